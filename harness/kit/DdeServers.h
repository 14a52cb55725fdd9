// DdeServers: the fake partners of the chat window's DDE side. The IRC client's command
// server (answering, hung, or on the one thread that also opens a conversation per channel
// line, as mIRC does), a raw server that never acknowledges, ddesink as a client that can
// be killed, and a hung program on the desktop.
#pragma once

#include "dde/DdeHandles.h"
#include "tests/kit/Process.h"
#include "tests/kit/Pump.h"

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

// The IRC client's DDE server: service `service`, topic "command"; records every CF_TEXT
// poke up to its zero byte, with the time it came. It answers on a thread of its own, or
// (Thread::Caller) on the thread that made it whenever that thread handles messages, as
// mIRC's one thread does. With Answer::Never a poke is taken and never answered: the
// callback does not return until the server goes, as in an IRC client that stopped.
// (CBR_BLOCK would not do: Wine answers a blocked poke at once.) One server a thread.
class CommandServer {
  public:
    enum class Thread { Own, Caller };
    enum class Answer { Always, Never };
    struct Arrival {
        std::string text;
        std::optional<std::chrono::steady_clock::time_point> at;
    };

    explicit CommandServer(std::string service = "mirc", Thread thread = Thread::Own,
                           Answer answer = Answer::Always);

    // How a busy or stuck IRC client answers: busy (DDE_FBUSY, not taken) to its first
    // `busyFirst` pokes, or refusing every poke, or taking its first `hangFirst` pokes and
    // answering each only after `hangMs` (on Thread::Own only).
    struct Behaviour {
        int busyFirst = 0;
        bool refuse = false;
        int hangFirst = 0;
        DWORD hangMs = 0;
    };
    void SetBehaviour(const Behaviour& behaviour);
    // Closed: its DDE instance ends every conversation with a goodbye.
    ~CommandServer();
    CommandServer(const CommandServer&) = delete;
    CommandServer& operator=(const CommandServer&) = delete;

    // "/ddeserver off" and "on": the name goes, and with it every conversation on it.
    void SwitchOff();
    void SwitchOn();

    std::vector<std::string> Pokes() const;
    std::size_t Count() const;
    std::vector<Arrival> Arrivals() const;
    void ForgetArrivals();

    // Run inside each poke before it is answered, on the server's thread.
    std::function<void(const std::string&)> onCommand;

  private:
    static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV, HSZ hsz1, HSZ, HDDEDATA data,
                                      ULONG_PTR, ULONG_PTR);
    void Start();
    void Stop();

    std::string service_;
    Answer answer_;
    KernelHandle release_; // set: a poke held by Answer::Never returns
    DdeInstance instance_; // made and ended on the server's thread, with the names
    DdeString serviceName_, topic_;
    mutable std::mutex mutex_;
    std::vector<Arrival> arrivals_;
    Behaviour behaviour_;
    int pokesSeen_ = 0;
    bool ownThread_ = false;
    std::optional<ServerThread> thread_;
};

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
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

    std::string service_, topic_;
    Pokes answer_;
    std::atomic<int> pokes_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
    UniqueHwnd hwnd_; // made and destroyed on the server's thread
    std::optional<ServerThread> thread_;
};

// ddesink (tests/ircpeer) in a process of its own, serving `service`|command and writing
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
