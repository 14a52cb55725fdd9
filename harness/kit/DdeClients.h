// DdeClients: the two DDE clients of the Wine tests. DdemlClient goes through DDEML and can
// poke any bytes in any format, request, advise and execute; RawDdeClient speaks the
// WM_DDE_* messages itself, for what DDEML will not send: an empty item name (atom 0, as
// mIRC's "/dde" sends it), a block without a zero byte, malformed requests, a client that
// vanishes without a goodbye.
#pragma once

#include "dde/DdeHandles.h"
#include "win/Platform.h"

#include <windows.h>

#include <ddeml.h> // after windows.h, which it needs

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkor::kit {

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

    // Ends the conversation it has, then connects ("" is no name: any service or topic).
    bool Connect(const std::string& service = "velkor", const std::string& topic = "velkor");
    void Disconnect();
    HCONV Conv() const { return conv_.get(); }
    // DdeGetLastError of the instance, e.g. after a Connect that failed.
    UINT LastError() const { return DdeGetLastError(instance_.get()); }

    // Pokes exactly `bytes` (add the zero yourself) to `item`; "" is the zero item handle.
    TransactionResult Poke(const std::string& item, std::string_view bytes, UINT format = CF_TEXT,
                           DWORD timeoutMs = 5000);
    // The bytes of the answer, zero bytes included; nothing when refused. Wine's DDEML
    // server follows its WM_DDE_DATA with a stray WM_DDE_ACK that would pass for the answer
    // to the next request: it is let through here.
    std::optional<std::string> Request(const std::string& item, UINT format = CF_TEXT);
    // A hot link, or with `warm` one that tells of changes without their data.
    bool AdviseStart(const std::string& item, bool warm = false, UINT format = CF_TEXT);
    bool AdviseStop(const std::string& item, UINT format = CF_TEXT);
    TransactionResult Execute(std::string_view command);

    // The data of every XTYP_ADVDATA (hot links), in order, and the warm-link notices.
    std::vector<std::string> AdviseData() const;
    int WarmNotices() const;

  private:
    static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conv, HSZ, HSZ, HDDEDATA data,
                                      ULONG_PTR, ULONG_PTR);
    HDDEDATA Transaction(const std::string& item, std::string_view bytes, UINT format, UINT type,
                         DWORD timeoutMs, DWORD* status);

    DdeInstance instance_; // ends with the conversation, which goes first
    DdeConv conv_;
    mutable std::mutex mutex_;
    std::vector<std::string> adviseData_;
    int warmNotices_ = 0;
};

// Speaks the WM_DDE_* messages itself, from a message-only window of the calling thread.
class RawDdeClient {
  public:
    struct Reply {
        UINT message = 0; // WM_DDE_ACK or WM_DDE_DATA
        WORD status = 0;  // of an ACK; 0x8000 for DATA
        std::string data; // of a DATA message, up to its zero byte
    };

    RawDdeClient();
    ~RawDdeClient();
    RawDdeClient(const RawDdeClient&) = delete;
    RawDdeClient& operator=(const RawDdeClient&) = delete;

    // The bounded initiate round (a hung window costs at most its short time, as for mIRC's
    // "/dde"); "" asks for any service or topic. True when a server answered; further
    // answers are ended at once.
    bool Initiate(const std::string& service = "velkor", const std::string& topic = "velkor");
    // Posts a WM_DDE_POKE whose block holds the header and exactly `bytes` (item "" is atom
    // 0) and returns at once: the block, which a refusal leaves with the client, or nullptr
    // when nothing went.
    HGLOBAL PostPoke(const std::string& item, std::string_view bytes, short format = CF_TEXT);
    // The same, waiting: the first reply, or nothing within the time.
    std::optional<Reply> Poke(const std::string& item, std::string_view bytes,
                              short format = CF_TEXT, DWORD timeoutMs = 5000);
    // The answer of a request; a WM_DDE_DATA's extra acknowledgement is let through.
    std::optional<Reply> Request(const std::string& item, short format = CF_TEXT,
                                 DWORD timeoutMs = 5000);
    std::optional<Reply> Advise(const std::string& item, short format = CF_TEXT,
                                DWORD timeoutMs = 5000);
    std::optional<Reply> Unadvise(const std::string& item, short format = CF_TEXT,
                                  DWORD timeoutMs = 2000);
    // Waits for any further reply (an advise update, a late ACK).
    std::optional<Reply> Wait(DWORD timeoutMs);
    // Ends the conversation and waits briefly for the server's answer.
    void Terminate();
    // Ends it without waiting: the server's answer is let through when it comes.
    void Drop();
    // Destroys the window without WM_DDE_TERMINATE, as a client that crashed.
    void Abandon();

    bool Linked() const { return server_ != nullptr; }
    // Replies go here, as they come, instead of to the waits above.
    std::function<void(const Reply&)> onReply;
    // The server ended the conversation (it was answered).
    std::function<void()> onServerEnded;

  private:
    std::optional<LRESULT> HandleMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    bool Post(UINT msg, LPARAM lparam);
    void Queue(Reply reply);
    HWND Window() const { return window_ ? window_->Handle() : nullptr; }

    std::unique_ptr<TMessageWindow> window_; // gone after Abandon
    HWND server_ = nullptr;
    bool initiating_ = false;
    bool terminated_ = false; // the server answered our WM_DDE_TERMINATE
    std::deque<Reply> replies_;
};

// The status word of a reply that is an acknowledgement; nothing for no reply or another.
std::optional<WORD> AckStatus(const std::optional<RawDdeClient::Reply>& reply);
// A positive acknowledgement.
bool Acked(const std::optional<RawDdeClient::Reply>& reply);

} // namespace velkor::kit
