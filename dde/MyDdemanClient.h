// MyDdemanClient: the client conversation, which links to a DDE server and pokes text to
// it. It speaks the raw DDE messages from a window of its own and never waits for the
// server inside a call: the initiate round is bounded in time, and pokes go out from the
// message loop, one at a time and in order, each acknowledged, refused or given up after
// 10 s. (A synchronous DDEML poke waits in a loop that answers no initiate: a peer that
// opens a conversation to this program while it pokes stalls both sides, the window
// freezes, and lines from the peer are lost.)
//
// A server that answers busy gets the line again after a short pause, within the poke's
// time. Every conversation has a client window of its own, so nothing a former partner
// still sends can reach a newer conversation; a poke that times out ends its conversation
// for the same reason. With SetRelink, a link that ends or cannot be opened is tried again
// by itself, after 1 s growing to 30 s, and a line poked while unlinked first tries to link.
#pragma once

#include "dde/DdeText.h"
#include "win/Forms.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velkor {

class TDdeClientConv;
using TPokeId = std::uint64_t;
// Reports the end of one queued poke: delivered (DDE_FACK), or why not.
using TPokeDoneEvent =
    std::function<void(TDdeClientConv& sender, TPokeId id, TPokeOutcome outcome)>;

// What PokeText did: queued under `id` (OnPokeDone tells the rest), or not and why.
struct TPokeQueued {
    bool queued = false;
    TPokeId id = 0;
    TPokeOutcome refusal = TPokeOutcome::NoLink;
    explicit operator bool() const { return queued; }
};

class TDdeClientConv : public TComponent {
  public:
    static constexpr UINT kPokeTimeoutMs = 10000;
    // Lines waiting behind the one on its way: at most this many, each at most this long
    // (a little over the poke's time, so that a line queued right behind one that timed
    // out still gets its turn on the new conversation).
    static constexpr std::size_t kMaxWaiting = 50;
    static constexpr UINT kMaxWaitMs = 12000;
    static constexpr UINT kFirstRelinkMs = 1000;
    static constexpr UINT kLastRelinkMs = 30000;

    explicit TDdeClientConv(TComponent* owner);
    ~TDdeClientConv() override;

    // Closes, then opens a conversation with `service` and `topic`; true when one is open.
    // When no server answers, ServiceApplication (else "service topic") is started once and
    // the initiate repeated once, at once.
    bool LinkTo(const std::string& service, const std::string& topic);
    bool OpenConversation();
    // Ends the conversation and forgets the link; lines not yet acknowledged are given up
    // (OnPokeDone LinkEnded).
    void CloseConversation();
    // Queues `text` up to its first zero byte, plus one zero byte, as a CF_TEXT poke to
    // `item`, and returns at once. Queued on an open conversation (with SetRelink, one
    // opened at once if there was none), or refused with nothing queued: no conversation,
    // kMaxWaiting lines waiting, or an empty or unusable item name. OnPokeDone tells each
    // queued line's outcome once, possibly before this returns.
    TPokeQueued PokeText(const std::string& item, std::string_view text);

    // Relinks by itself (see above). Off by default: a link then stays down until LinkTo.
    void SetRelink(bool on);
    const std::string& DdeService() const { return service_; }
    const std::string& DdeTopic() const { return topic_; }
    const std::string& ServiceApplication() const { return serviceApplication_; }
    void SetServiceApplication(std::string commandLine) {
        serviceApplication_ = std::move(commandLine);
    }
    // Started instead when ServiceApplication's program is not found.
    void SetServiceFallback(std::string commandLine) { serviceFallback_ = std::move(commandLine); }
    bool Linked() const { return partner_ != nullptr; }
    UINT DataFormat() const { return CF_TEXT; }
    // Lines queued and not yet answered, the one on its way included.
    std::size_t Pending() const { return queue_.size(); }

    TNotifyEvent OnClose;
    TNotifyEvent OnOpen;
    TPokeDoneEvent OnPokeDone;

  protected:
    virtual void Close();
    virtual void Open();

  private:
    struct Line {
        TPokeId id = 0;
        std::string item;
        std::string bytes;    // the text and its zero byte
        ULONGLONG queuedAt{}; // GetTickCount64 when queued
    };
    std::optional<LRESULT> HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam);
    // A fresh client window for the next conversation; the old one goes with its timers.
    void NewWindow();
    HWND Window() const; // the client window, or nullptr when none could be made
    bool Initiate();
    void SendNext();
    bool PostPoke(const Line& line);
    void OnAck(HWND from, LPARAM lparam);
    void OnTerminate(HWND from);
    void OnPokeTimeUp();
    void Finish(TPokeOutcome outcome);
    // Lines that waited longer than kMaxWaitMs behind the one on its way.
    void ExpireWaiting();
    // Ends the conversation from this side: goodbye to the partner, a new window.
    void EndConversation();
    // The server ended the conversation or vanished: closed, the names kept.
    void ServerEnded();
    void GiveUpQueue(TPokeOutcome outcome);
    void PlanRelink();
    void Relink();
    void RunTimers();

    std::unique_ptr<TMessageWindow> window_;
    std::string service_;
    std::string topic_;
    std::string serviceApplication_;
    std::string serviceFallback_;
    HWND partner_ = nullptr;
    bool initiating_ = false;
    std::deque<Line> queue_;
    TPokeId nextId_ = 1;
    bool awaitingAck_ = false;      // the front of the queue is on its way
    bool retryPlanned_ = false;     // the front was answered busy and goes again soon
    UINT busyPauseMs_ = 0;          // the pause before its next try after a busy answer
    ULONGLONG retryAt_ = 0;         // when that try is due
    ULONGLONG frontSince_ = 0;      // when the front was first posted
    HGLOBAL pendingData_ = nullptr; // its data, ours again if the server refuses it
    // Relinking: the service and topic wanted, and the back-off.
    bool relink_ = false;
    std::string wantService_, wantTopic_;
    bool relinkPlanned_ = false;
    UINT relinkDelayMs_ = kFirstRelinkMs;
};

} // namespace velkor
