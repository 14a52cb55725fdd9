// The message pump and the threads of the Wine tests.
#include "harness/kit/Pump.h"

#include "win/Handles.h"

#include <algorithm>

namespace velkor::kit {

namespace {

// Handles what is queued; false after a WM_QUIT, which is queued again.
bool PumpQueued() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

} // namespace

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout, Poll poll) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        // What came in is handled before the condition is looked at: it may be what the
        // condition waits for.
        const bool quit = !PumpQueued();
        if (done()) return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (quit || left.count() <= 0) return false;
        MsgWaitForMultipleObjects(poll.wake ? 1 : 0, &poll.wake, FALSE,
                                  static_cast<DWORD>(std::min(left, poll.every).count()),
                                  QS_ALLINPUT);
    }
}

void PumpFor(DWORD ms) {
    const auto time = std::chrono::milliseconds(ms);
    WaitFor([] { return false; }, time, {time});
}

ServerThread::ServerThread(std::function<void()> start, std::function<void()> stop) {
    const UniqueKernelObject ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    thread_ =
        std::thread([this, ready = ready.get(), start = std::move(start), stop = std::move(stop)] {
            id_ = GetCurrentThreadId();
            start();
            MSG msg;
            PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // the queue exists before ready
            SetEvent(ready);
            // -1 is an error for one message (Wine gives it for a DDE message whose data it
            // could not map): skip it.
            for (BOOL got; (got = GetMessageA(&msg, nullptr, 0, 0)) != 0;) {
                if (got == -1) continue;
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            stop();
        });
    WaitForSingleObject(ready.get(), 10000);
}

ServerThread::~ServerThread() {
    PostThreadMessageA(id_, WM_QUIT, 0, 0);
    thread_.join();
}

PumpedThread::PumpedThread(std::function<void()> body)
    : done_(std::make_unique<std::atomic<bool>>(false)) {
    thread_ = std::thread([body = std::move(body), done = done_.get()] {
        body();
        *done = true;
    });
}

PumpedThread::~PumpedThread() {
    Join();
}

void PumpedThread::Join() {
    if (!thread_.joinable()) return;
    WaitFor([this] { return done_->load(); }, std::chrono::hours(1),
            {std::chrono::milliseconds(5)});
    thread_.join();
}

} // namespace velkor::kit
