// MyDdemanClient: the client conversation on raw DDE messages, driven by the message loop.
#include "dde/MyDdemanClient.h"

#include "app/chat/DdeText.h"
#include "dde/DdeMessages.h"

#include <dde.h>

#include <cstddef>
#include <cstring>

namespace velkor {

namespace {

constexpr char kWindowClass[] = "VelkorDdeClientConv";
constexpr UINT_PTR kAckTimer = 1;
constexpr UINT_PTR kWatchTimer = 2;
// While a poke is on its way, how often to look whether the server's window still exists:
// a server that dies sends no WM_DDE_TERMINATE.
constexpr UINT kWatchMs = 250;

ATOM NameAtom(const std::string& name) {
    return name.empty() ? 0 : GlobalAddAtomA(name.c_str());
}

} // namespace

TDdeClientConv::TDdeClientConv(TComponent* owner) : TComponent(owner) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc); // fails harmlessly when registered already
    // A message-only window: it takes the server's answers and never sees other programs'
    // broadcasts.
    window_.reset(CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), this));
}

TDdeClientConv::~TDdeClientConv() {
    // The owner may be half destroyed already: no events from here on.
    OnClose = nullptr;
    OnOpen = nullptr;
    OnPokeDone = nullptr;
    CloseConversation();
    if (window_) SetWindowLongPtrA(window_.get(), GWLP_USERDATA, 0);
}

LRESULT CALLBACK TDdeClientConv::WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE)
        SetWindowLongPtrA(
            hwnd, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams));
    auto* self = reinterpret_cast<TDdeClientConv*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, msg, wparam, lparam);
    return self->HandleMessage(hwnd, msg, wparam, lparam);
}

LRESULT TDdeClientConv::HandleMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_DDE_ACK:
        OnAck(reinterpret_cast<HWND>(wparam), lparam);
        return 0;
    case WM_DDE_TERMINATE:
        OnTerminate(reinterpret_cast<HWND>(wparam));
        return 0;
    case WM_TIMER:
        if (wparam == kAckTimer && awaitingAck_) {
            // Given up. A late acknowledgement is taken for the next poke's: the server
            // answers its pokes in order, so only the report of one poke may be off.
            ++timedOut_;
            Finish(false);
            SendNext();
        } else if (wparam == kWatchTimer && partner_ && !IsWindow(partner_)) {
            ServerEnded();
        }
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

bool TDdeClientConv::LinkTo(const std::string& service, const std::string& topic) {
    CloseConversation();
    service_ = service;
    topic_ = topic;
    const bool open = OpenConversation();
    if (!open) {
        service_.clear();
        topic_.clear();
    }
    return open;
}

bool TDdeClientConv::OpenConversation() {
    if (partner_ && !IsWindow(partner_)) ServerEnded();
    if (partner_ || !window_) return false;
    if (service_.empty() && topic_.empty()) return false;
    if (!Initiate() && !(service_.empty() && serviceApplication_.empty())) {
        const std::string commandLine =
            serviceApplication_.empty() ? service_ + " " + topic_ : serviceApplication_;
        UINT started = WinExec(commandLine.c_str(), SW_SHOWMINNOACTIVE);
        if ((started == ERROR_FILE_NOT_FOUND || started == ERROR_PATH_NOT_FOUND) &&
            !serviceFallback_.empty())
            started = WinExec(serviceFallback_.c_str(), SW_SHOWMINNOACTIVE);
        if (started >= 32) Initiate();
    }
    if (!partner_) return false;
    timedOut_ = 0;
    Open();
    return true;
}

bool TDdeClientConv::Initiate() {
    // An empty name asks for any server or topic; a name too long for an atom finds none.
    const UniqueAtom service(NameAtom(service_));
    const UniqueAtom topic(NameAtom(topic_));
    if ((service || service_.empty()) && (topic || topic_.empty())) {
        initiating_ = true;
        BroadcastInitiate(window_.get(), service.get(), topic.get());
        initiating_ = false;
    }
    return partner_ != nullptr;
}

void TDdeClientConv::CloseConversation() {
    if (partner_) {
        const HWND old = partner_;
        Close();
        partner_ = nullptr;
        // Its answering WM_DDE_TERMINATE comes from a window that is no partner any more.
        PostMessageA(old, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window_.get()), 0);
    }
    GiveUpQueue();
    service_.clear();
    topic_.clear();
}

bool TDdeClientConv::PokeText(const std::string& item, std::string_view text) {
    if (partner_ && !IsWindow(partner_)) ServerEnded();
    // The empty item has no atom, as DDEML has no handle for it.
    if (!partner_ || item.empty() || item.size() > 255) return false;
    std::string bytes(chat::UpToFirstZero(text));
    bytes.push_back('\0');
    queue_.push_back(Line{item, std::move(bytes)});
    if (!awaitingAck_) SendNext();
    return partner_ != nullptr;
}

void TDdeClientConv::SendNext() {
    while (partner_ && !awaitingAck_ && !queue_.empty()) {
        if (PostPoke(queue_.front())) return;
        if (!IsWindow(partner_)) {
            ServerEnded();
            return;
        }
        Finish(false); // no memory, or the server's queue is full
    }
}

bool TDdeClientConv::PostPoke(const Line& line) {
    UniqueAtom item(GlobalAddAtomA(line.item.c_str()));
    if (!item) return false;
    HGLOBAL block = PostDdePoke(partner_, window_.get(), item.get(), line.bytes);
    if (!block) return false;
    // On its way: the data is the server's once it takes the poke; the atom comes back with
    // the acknowledgement, which deletes it.
    item.release();
    pendingData_ = block;
    awaitingAck_ = true;
    SetTimer(window_.get(), kAckTimer, kPokeTimeoutMs, nullptr);
    SetTimer(window_.get(), kWatchTimer, kWatchMs, nullptr);
    return true;
}

void TDdeClientConv::OnAck(HWND from, LPARAM lparam) {
    // An answer to WM_DDE_INITIATE is sent; an answer to a poke is posted.
    if (initiating_ || InSendMessage()) {
        TakeInitiateAck(lparam);
        if (initiating_ && !partner_)
            partner_ = from;
        else // a second server, or one that answered after the round
            PostMessageA(from, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window_.get()), 0);
        return;
    }
    const WORD status = TakeDdeAck(lparam);
    if (!awaitingAck_ || from != partner_)
        return; // from an ended conversation, or late after a time-out
    const bool acknowledged = (status & 0x8000) != 0; // DDE_FACK in the DDEACK word
    // A refused poke leaves its data with the sender. After a time-out the answer may be
    // the earlier poke's, whose data the server may still hold: then it is left alone.
    if (!acknowledged && !timedOut_) GlobalFree(pendingData_);
    Finish(acknowledged);
    SendNext();
}

void TDdeClientConv::OnTerminate(HWND from) {
    if (from != partner_) return; // the answer to our own WM_DDE_TERMINATE, or a stranger's
    PostMessageA(from, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window_.get()), 0);
    ServerEnded();
}

void TDdeClientConv::Finish(bool acknowledged) {
    KillTimer(window_.get(), kAckTimer);
    KillTimer(window_.get(), kWatchTimer);
    awaitingAck_ = false;
    pendingData_ = nullptr;
    queue_.pop_front();
    if (OnPokeDone) OnPokeDone(*this, acknowledged);
}

void TDdeClientConv::ServerEnded() {
    if (!partner_) return;
    Close();
    partner_ = nullptr;
    GiveUpQueue();
}

void TDdeClientConv::GiveUpQueue() {
    KillTimer(window_.get(), kAckTimer);
    KillTimer(window_.get(), kWatchTimer);
    awaitingAck_ = false;
    pendingData_ = nullptr; // on its way: the server may hold it
    std::deque<Line> lost;
    lost.swap(queue_);
    for (std::size_t i = 0; i < lost.size() && OnPokeDone; ++i)
        OnPokeDone(*this, false);
}

void TDdeClientConv::Close() {
    if (OnClose) OnClose(*this);
}

void TDdeClientConv::Open() {
    if (OnOpen) OnOpen(*this);
}

} // namespace velkor
