// MyDdemanClient: the client conversation, which links to a DDE server and pokes text to
// it. It speaks the raw DDE messages from a window of its own and never waits for the
// server inside a call: the initiate round is bounded in time, and pokes go out from the
// message loop, one at a time and in order, each acknowledged, refused or given up after
// 10 s. (A synchronous DDEML poke waits in a loop that answers no initiate: a peer that
// opens a conversation to this program while it pokes stalls both sides, the window
// freezes, and lines from the peer are lost.)
#pragma once

#include "app/win/Forms.h"

#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace velkor {

class TDdeClientConv;
// Reports the end of one poke: acknowledged (DDE_FACK), or not (refused, busy, no answer
// within the time-out, or the conversation ended first).
using TPokeDoneEvent = std::function<void(TDdeClientConv& sender, bool acknowledged)>;

class TDdeClientConv : public TComponent {
  public:
    static constexpr UINT kPokeTimeoutMs = 10000;

    explicit TDdeClientConv(TComponent* owner);
    ~TDdeClientConv() override;

    // Closes, then opens a conversation with `service` and `topic`; true when one is open.
    // When no server answers, ServiceApplication (else "service topic") is started once and
    // the initiate repeated once, at once.
    bool LinkTo(const std::string& service, const std::string& topic);
    bool OpenConversation();
    // Ends the conversation; lines not yet acknowledged are given up (OnPokeDone false).
    void CloseConversation();
    // Queues `text` up to its first zero byte, plus one zero byte, as a CF_TEXT poke to
    // `item`, and returns at once. True when the line was queued on an open conversation;
    // false when it cannot be sent at all (no conversation, an empty or unusable item
    // name), and then nothing is queued. Whether the server took it is told later by
    // OnPokeDone: only a poke that was refused or timed out (or cut off by the end of the
    // conversation) is reported as failed.
    bool PokeText(const std::string& item, std::string_view text);

    const std::string& DdeService() const { return service_; }
    const std::string& DdeTopic() const { return topic_; }
    const std::string& ServiceApplication() const { return serviceApplication_; }
    void SetServiceApplication(std::string commandLine) {
        serviceApplication_ = std::move(commandLine);
    }
    // Started instead when ServiceApplication's program is not found.
    void SetServiceFallback(std::string commandLine) { serviceFallback_ = std::move(commandLine); }
    bool Linked() const { return partner_ != nullptr; }
    // The server's window of the open conversation, or nullptr.
    HWND Partner() const { return partner_; }
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
        std::string item;
        std::string bytes; // the text and its zero byte
    };
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    bool Initiate();
    void SendNext();
    bool PostPoke(const Line& line);
    void OnAck(HWND from, LPARAM lparam);
    void OnTerminate(HWND from);
    void Finish(bool acknowledged);
    // The server ended the conversation or vanished: closed, the names kept.
    void ServerEnded();
    void GiveUpQueue();

    UniqueHwnd window_;
    std::string service_;
    std::string topic_;
    std::string serviceApplication_;
    std::string serviceFallback_;
    HWND partner_ = nullptr;
    bool initiating_ = false;
    std::deque<Line> queue_;
    bool awaitingAck_ = false;      // the front of the queue is on its way
    HGLOBAL pendingData_ = nullptr; // its data, ours again if the server refuses it
    int timedOut_ = 0;              // pokes of this conversation given up unanswered
};

} // namespace velkor
