// Hostile DDE partners for the chat window: a DDEML client that pokes any bytes in any
// format, requests and advises; a raw-message client for what DDEML will not send (an
// empty item, a block without a zero byte, malformed requests); and two IRC client
// stand-ins that accept the conversation and then never acknowledge a poke.
#pragma once

#include <windows.h>

#include <ddeml.h> // after windows.h, which it needs

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// The outcome of one DDEML client transaction.
struct TransactionResult {
    bool returned = false; // DdeClientTransaction gave non-zero
    DWORD status = 0;      // its result word
    UINT error = 0;        // DdeGetLastError when it did not return
    bool Acked() const { return returned && (status & DDE_FACK); }
};

// A DDEML client instance with at most one conversation, used from the thread that made it.
class DdemlClient {
  public:
    DdemlClient();
    ~DdemlClient();
    DdemlClient(const DdemlClient&) = delete;
    DdemlClient& operator=(const DdemlClient&) = delete;

    bool Connect(const std::string& service = "velkor", const std::string& topic = "velkor");
    void Disconnect();
    HCONV Conv() const { return conv_; }

    // Pokes exactly `bytes` (add the zero yourself) to `item`; "" uses the zero item handle.
    TransactionResult Poke(const std::string& item, std::string_view bytes, UINT format = CF_TEXT,
                           DWORD timeoutMs = 5000);
    // The requested value, or nothing when the server answered 0.
    std::optional<std::string> Request(const std::string& item, UINT format = CF_TEXT);
    bool AdviseStart(const std::string& item, bool warm, UINT format = CF_TEXT);
    bool AdviseStop(const std::string& item, UINT format = CF_TEXT);
    TransactionResult Execute(std::string_view command);

    // Texts of XTYP_ADVDATA (hot links) and the number of warm-link notices.
    std::vector<std::string> AdviseData() const;
    int WarmNotices() const;

  private:
    static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conv, HSZ, HSZ, HDDEDATA data,
                                      ULONG_PTR, ULONG_PTR);
    HSZ Item(const std::string& item);

    DWORD instance_ = 0;
    HCONV conv_ = nullptr;
    std::vector<HSZ> strings_;
    mutable std::mutex mutex_;
    std::vector<std::string> adviseData_;
    int warmNotices_ = 0;
};

// Speaks the WM_DDE_* messages itself, from a hidden window of the calling thread.
class RawDdeClient {
  public:
    struct Reply {
        UINT message = 0; // WM_DDE_ACK or WM_DDE_DATA
        WORD status = 0;  // of an ACK
        std::string data; // of a DATA message, up to its zero byte
    };

    RawDdeClient();
    ~RawDdeClient();
    RawDdeClient(const RawDdeClient&) = delete;
    RawDdeClient& operator=(const RawDdeClient&) = delete;

    bool Initiate(const std::string& service = "velkor", const std::string& topic = "velkor");
    // A WM_DDE_POKE whose block holds the header and exactly `bytes`; item "" is atom 0.
    // The first reply, or nothing within the time.
    std::optional<Reply> Poke(const std::string& item, std::string_view bytes,
                              short format = CF_TEXT, DWORD timeoutMs = 5000);
    std::optional<Reply> Request(const std::string& item, short format = CF_TEXT,
                                 DWORD timeoutMs = 2000);
    std::optional<Reply> Advise(const std::string& item, short format = CF_TEXT,
                                DWORD timeoutMs = 2000);
    std::optional<Reply> Unadvise(const std::string& item, short format = CF_TEXT,
                                  DWORD timeoutMs = 2000);
    // Waits for any further reply (an advise update, a late ACK).
    std::optional<Reply> Wait(DWORD timeoutMs);
    void Terminate();
    // Destroys the window without WM_DDE_TERMINATE, as a client that crashed.
    void Abandon();

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    bool Post(UINT msg, LPARAM lparam);

    HWND hwnd_ = nullptr;
    HWND server_ = nullptr;
    bool initiating_ = false;
    std::deque<Reply> replies_;
};

// A window thread that plays a DDE server for `service`|`topic`: it accepts the
// conversation and then never acknowledges a poke, as a hung IRC client would.
class SilentDdeServer {
  public:
    SilentDdeServer(std::string service, std::string topic);
    ~SilentDdeServer();
    SilentDdeServer(const SilentDdeServer&) = delete;
    SilentDdeServer& operator=(const SilentDdeServer&) = delete;

    int Pokes() const { return pokes_; }

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    void Run();

    std::string service_, topic_;
    std::atomic<int> pokes_{0};
    std::thread thread_;
    DWORD threadId_ = 0;
    HANDLE ready_;
};

// A DDEML server for `service` whose callback does not return from a poke until the server
// is destroyed: its thread hangs, as an IRC client that stopped answering. (CBR_BLOCK would
// not do: Wine answers a blocked poke at once.)
class BlockingDdemlServer {
  public:
    explicit BlockingDdemlServer(std::string service);
    ~BlockingDdemlServer();
    BlockingDdemlServer(const BlockingDdemlServer&) = delete;
    BlockingDdemlServer& operator=(const BlockingDdemlServer&) = delete;

    int Pokes() const { return pokes_; }

  private:
    static HDDEDATA CALLBACK Callback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                      ULONG_PTR);
    void Run();

    static inline BlockingDdemlServer* instance_ = nullptr;
    std::string service_;
    std::atomic<int> pokes_{0};
    std::thread thread_;
    DWORD threadId_ = 0;
    HANDLE ready_;
    HANDLE release_;
};

// Handles this thread's messages for `ms` milliseconds.
void PumpFor(DWORD ms);

// Every window of the process, top-level (DDEML's conversation windows among them) and
// child windows.
int ProcessWindows(DWORD pid);

// ddesink (tests/ircpeer) in a process of its own, serving `service`|command and writing
// every poke to a file: an IRC client that can be killed.
class DdeSinkProcess {
  public:
    DdeSinkProcess(const std::string& exe, const std::string& service, const std::string& out);
    ~DdeSinkProcess();
    DdeSinkProcess(const DdeSinkProcess&) = delete;
    DdeSinkProcess& operator=(const DdeSinkProcess&) = delete;

    // Whether its service answered a connect within 20 s of the start.
    bool Up() const { return up_; }
    // Ends the process at once: no DDE goodbye, as when the client is killed or crashes.
    void Kill();
    // The file: "poke item0=... text=TEXT" per poke.
    std::string Received() const;
    // The texts poked, in order.
    std::vector<std::string> Texts() const;

  private:
    std::string out_;
    PROCESS_INFORMATION info_{};
    bool up_ = false;
};

// A top-level window on a thread that stops handling messages: a hung program on the
// desktop. It hangs from construction until destruction.
class HungWindow {
  public:
    HungWindow();
    ~HungWindow();
    HungWindow(const HungWindow&) = delete;
    HungWindow& operator=(const HungWindow&) = delete;

  private:
    std::thread thread_;
    HANDLE ready_;
    HANDLE release_;
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
