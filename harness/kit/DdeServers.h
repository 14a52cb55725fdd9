// DdeServers: the fake partners of the chat window's DDE side besides the IRC client's
// command server (CommandServer.h): a raw server that never acknowledges, ddesink as a
// client that can be killed, and a hung program on the desktop.
#pragma once

#include "dde/DdeHandles.h"
#include "harness/kit/CommandServer.h"
#include "harness/kit/Process.h"
#include "harness/kit/Pump.h"
#include "win/Platform.h"

#include <windows.h>

#include <ddeml.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velkor::kit {

// A window thread that plays a DDE server for `service`|`topic` in raw messages, all its
// conversations in its one window (which DDE allows a server). Silent: it accepts the
// conversation and never acknowledges a poke, as a hung IRC client would; Answering: it
// takes every poke, records its text and acknowledges it.
class SilentDdeServer {
  public:
    enum class Pokes { Silent, Answering };
    SilentDdeServer(std::string service, std::string topic, Pokes pokes = Pokes::Silent);
    ~SilentDdeServer();
    SilentDdeServer(const SilentDdeServer&) = delete;
    SilentDdeServer& operator=(const SilentDdeServer&) = delete;

    int PokeCount() const { return pokes_; }
    std::vector<std::string> Texts() const;

  private:
    std::optional<LRESULT> HandleMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

    std::string service_, topic_;
    Pokes answer_;
    std::atomic<int> pokes_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
    std::optional<TMessageWindow> window_; // made and destroyed on the server's thread
    std::optional<ServerThread> thread_;
};

// ddesink (harness/) in a process of its own, serving `service`|command and writing
// every poke to a file: an IRC client that can be killed.
class DdeSinkProcess {
  public:
    DdeSinkProcess(const std::string& exe, const std::string& service, const std::string& out);

    // Whether its service answered an initiate within 20 s of the start.
    bool Up() const { return up_; }
    // Ends the process at once: no DDE goodbye, as when the client is killed or crashes.
    void Kill() { process_.Kill(); }
    // The file: "poke item0=... text=TEXT" per poke.
    std::string Received() const { return ReadWholeFile(out_); }
    // The texts poked, in order.
    std::vector<std::string> Texts() const;

  private:
    std::string out_;
    Process process_;
    bool up_ = false;
};

// A top-level window on a thread that stops handling messages: a hung program on the
// desktop, from construction until destruction.
class HungWindow {
  public:
    HungWindow();
    ~HungWindow();
    HungWindow(const HungWindow&) = delete;
    HungWindow& operator=(const HungWindow&) = delete;

  private:
    KernelHandle release_;
    std::thread thread_;
};

} // namespace velkor::kit
