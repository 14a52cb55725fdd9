// Pokes texts on an EMPTY item name into a DDE server, in order, one at a time. DDEML
// refuses a zero item handle, so this speaks the raw DDE messages itself.
#pragma once

#include "MessageWindow.h"

#include <deque>
#include <functional>
#include <string>

namespace ircpeer {

class RawDdePoker : public MessageWindow {
  public:
    using Log = std::function<void(const std::string&)>;

    static constexpr UINT kAckTimeoutMs = 10000;

    RawDdePoker(std::string service, std::string topic, Log log);
    ~RawDdePoker() override;

    // Queues a text; pokes go out from the message loop, each after the previous one
    // was acknowledged, refused, or timed out.
    void Enqueue(std::string text);

    bool Idle() const { return queue_.empty(); }

  protected:
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

  private:
    void Pump();
    bool Initiate();
    bool PostPoke(const std::string& text);
    void OnAck(HWND from, LPARAM lParam);
    void OnTerminate(HWND from);
    void Finish();
    void DropConversation();

    std::string service_;
    std::string topic_;
    Log log_;
    std::deque<std::string> queue_;
    HWND server_ = nullptr;     // partner window of the open conversation
    bool initiating_ = false;   // WM_DDE_ACK now answers our WM_DDE_INITIATE
    bool awaitingAck_ = false;  // the front of the queue is posted, not yet answered
    HGLOBAL pending_ = nullptr; // its data, ours again if the server refuses it
    bool pumpPosted_ = false;
};

} // namespace ircpeer
