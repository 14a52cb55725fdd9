// Pump: the one message pump of the Wine tests. A thread that owns windows (DDEML's among
// them) must keep handling messages while it waits: a peer's sent message (an initiate
// broadcast, a DDEML transaction) waits until it does.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace velkor::kit {

// How WaitFor waits between two looks at its condition: at most `every`, woken earlier by
// a message or by `wake` being signalled.
struct Poll {
    std::chrono::milliseconds every{2};
    HANDLE wake = nullptr;
};

// Handles this thread's messages until `done` holds or `timeout` has passed; returns
// done(). A WM_QUIT ends the wait and stays queued for the loop that owns it.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(5000), Poll poll = {});
// Handles this thread's messages for `ms` milliseconds.
void PumpFor(DWORD ms);

// A thread that handles its messages, for servers that answer on a thread of their own:
// `start` runs there first (making its windows or its DDEML instance on that thread), then
// the message loop until the object goes, then `stop`, still there.
class ServerThread {
  public:
    ServerThread(std::function<void()> start, std::function<void()> stop);
    ~ServerThread();
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

  private:
    std::thread thread_;
    std::atomic<DWORD> id_ = 0;
};

// A thread that its starter joins while handling messages: DdeConnect in the thread
// broadcasts WM_DDE_INITIATE with SendMessage, also to the DDE windows of the starting
// thread, which a plain join would leave unanswered for ever.
class PumpedThread {
  public:
    explicit PumpedThread(std::function<void()> body);
    ~PumpedThread();
    PumpedThread(PumpedThread&&) = default;
    PumpedThread(const PumpedThread&) = delete;
    PumpedThread& operator=(const PumpedThread&) = delete;
    void Join();

  private:
    std::unique_ptr<std::atomic<bool>> done_;
    std::thread thread_;
};

} // namespace velkor::kit
