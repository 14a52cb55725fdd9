// Pokes texts on an EMPTY item name into a DDE server, in order, one at a time, from the
// message loop. DDEML refuses a zero item handle, so this goes through the harness's raw
// DDE client.
#pragma once

#include "harness/kit/DdeClients.h"
#include "win/Platform.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace ircpeer {

class RawDdePoker {
  public:
    using Log = std::function<void(const std::string&)>;

    static constexpr UINT kAckTimeoutMs = 10000;
    // A text whose initiate finds no server is tried again for this long, then given up.
    static constexpr ULONGLONG kGiveUpMs = 10000;
    static constexpr UINT kRetryMs = 200;

    // With `perLine`, each text gets a conversation of its own, opened for it and ended
    // after its answer, as mIRC's "/dde" command does; otherwise one is kept open.
    RawDdePoker(std::string service, std::string topic, bool perLine, Log log);
    ~RawDdePoker();

    // Queues a text; pokes go out from the message loop, each after the previous one
    // was acknowledged, refused, or timed out.
    void Enqueue(std::string text);

    // Texts go as CF_UNICODETEXT: UTF-16 of their UTF-8, else of their ANSI code page.
    void SetUnicode(bool unicode) { unicode_ = unicode; }
    void SetAckTimeoutMs(UINT ms) { ackTimeoutMs_ = ms; }
    // The item name poked; empty (the default) is atom 0.
    void SetItem(std::string item) { item_ = std::move(item); }

    HWND Handle() const { return window_.Handle(); }

  private:
    // First, so that it exists in the constructor; its creation messages touch no other
    // member.
    velkor::TMessageWindow window_;
    std::optional<LRESULT> HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    struct Event {
        std::string text;
        ULONGLONG queuedAt = 0;
    };
    void Pump();
    void GiveUpStale();
    bool Initiate();
    bool PostPoke(const std::string& text);
    void OnReply(const velkor::kit::RawDdeClient::Reply& reply);
    void OnServerEnded();
    void Finish();
    void DropConversation();

    std::string service_;
    std::string topic_;
    bool perLine_;
    Log log_;
    std::deque<Event> queue_;
    velkor::kit::RawDdeClient client_; // the conversation
    bool awaitingAck_ = false;         // the front of the queue is posted, not yet answered
    HGLOBAL pending_ = nullptr;        // its data, ours again if the server refuses it
    bool pumpPosted_ = false;
    bool retrying_ = false; // nobody answered the last initiate
    bool unicode_ = false;
    UINT ackTimeoutMs_ = kAckTimeoutMs;
    std::string item_;
};

} // namespace ircpeer
