// MyDdemanClient: the client conversation on raw DDE messages, driven by the message loop.
#include "dde/MyDdemanClient.h"

#include "dde/DdeMessages.h"
#include "dde/DdeText.h"

#include <dde.h>
#include <ddeml.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace velkor {

namespace {

// While lines wait: look whether the server's window still exists (a server that dies
// sends no WM_DDE_TERMINATE), whether the poke's time is up, a busy line's next try, and
// lines that waited too long.
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickMs = 25;
constexpr UINT_PTR kRelinkTimer = 2;
// After a busy answer the line goes again after this pause, doubled each time up to the last.
constexpr UINT kFirstBusyPauseMs = 20;
constexpr UINT kLastBusyPauseMs = 500;

ATOM NameAtom(const std::string& name) {
    return name.empty() ? 0 : GlobalAddAtomA(name.c_str());
}

} // namespace

TDdeClientConv::TDdeClientConv(TComponent* owner) : TComponent(owner) {
    NewWindow();
}

TDdeClientConv::~TDdeClientConv() {
    // The owner may be half destroyed already: no events from here on.
    OnClose = nullptr;
    OnOpen = nullptr;
    OnPokeDone = nullptr;
    relink_ = false;
    CloseConversation();
    window_.reset();
}

void TDdeClientConv::NewWindow() {
    // A message-only window: it takes the server's answers and never sees other programs'
    // broadcasts. Whatever a former partner still posts to the old one is lost with it.
    try {
        window_ =
            std::make_unique<TMessageWindow>(TMessageWindow::TKind::MessageOnly,
                                             [this](HWND, UINT msg, WPARAM wparam, LPARAM lparam) {
                                                 return HandleMessage(msg, wparam, lparam);
                                             });
    } catch (const std::runtime_error&) {
        window_.reset(); // no window: no conversation until a later one can be made
    }
}

HWND TDdeClientConv::Window() const {
    return window_ ? window_->Handle() : nullptr;
}

std::optional<LRESULT> TDdeClientConv::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_DDE_ACK:
        OnAck(reinterpret_cast<HWND>(wparam), lparam);
        return 0;
    case WM_DDE_TERMINATE:
        OnTerminate(reinterpret_cast<HWND>(wparam));
        return 0;
    case WM_TIMER:
        if (wparam == kRelinkTimer) {
            Relink();
        } else if (wparam == kTickTimer) {
            if (partner_ && !IsWindow(partner_)) {
                ServerEnded();
                return 0;
            }
            const ULONGLONG now = GetTickCount64();
            if (awaitingAck_ && now - frontSince_ >= kPokeTimeoutMs) {
                OnPokeTimeUp();
                return 0;
            }
            if (retryPlanned_ && now - queue_.front().queuedAt >= kPokeTimeoutMs) {
                // Busy for as long as a line may take: given up, the conversation sound.
                Finish(TPokeOutcome::Busy);
                SendNext();
                return 0;
            }
            if (retryPlanned_ && now >= retryAt_ && partner_) {
                retryPlanned_ = false;
                if (!PostPoke(queue_.front())) retryPlanned_ = true; // next tick, in time
            }
            ExpireWaiting();
            RunTimers();
        }
        return 0;
    default:
        return std::nullopt;
    }
}

void TDdeClientConv::SetRelink(bool on) {
    relink_ = on;
    if (!on) {
        relinkPlanned_ = false;
        KillTimer(Window(), kRelinkTimer);
    } else if (!partner_) {
        PlanRelink();
    }
}

bool TDdeClientConv::LinkTo(const std::string& service, const std::string& topic) {
    CloseConversation();
    service_ = service;
    topic_ = topic;
    wantService_ = service;
    wantTopic_ = topic;
    const bool open = OpenConversation();
    if (!open) {
        service_.clear();
        topic_.clear();
        PlanRelink();
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
    Open();
    return true;
}

bool TDdeClientConv::Initiate() {
    const bool planned = relinkPlanned_;
    NewWindow(); // its timers go with the old one
    // An empty name asks for any server or topic; a name too long for an atom finds none.
    const UniqueAtom service(NameAtom(service_));
    const UniqueAtom topic(NameAtom(topic_));
    if ((service || service_.empty()) && (topic || topic_.empty())) {
        initiating_ = true;
        BroadcastInitiate(Window(), service.get(), topic.get(), {},
                          [this] { return partner_ != nullptr; });
        initiating_ = false;
    }
    if (partner_) {
        relinkPlanned_ = false;
        relinkDelayMs_ = kFirstRelinkMs;
    } else if (planned) {
        SetTimer(Window(), kRelinkTimer, relinkDelayMs_, nullptr);
    }
    return partner_ != nullptr;
}

void TDdeClientConv::CloseConversation() {
    if (partner_) EndConversation();
    GiveUpQueue(TPokeOutcome::LinkEnded);
    service_.clear();
    topic_.clear();
    wantService_.clear();
    wantTopic_.clear();
    relinkPlanned_ = false;
    KillTimer(Window(), kRelinkTimer);
}

void TDdeClientConv::EndConversation() {
    const HWND old = partner_;
    Close();
    partner_ = nullptr;
    // Its answering WM_DDE_TERMINATE, and any late answer to a poke, go to the old window.
    PostMessageA(old, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(Window()), 0);
    NewWindow();
}

TPokeQueued TDdeClientConv::PokeText(const std::string& item, std::string_view text) {
    TPokeQueued result;
    if (partner_ && !IsWindow(partner_)) ServerEnded();
    // The empty item has no atom, as DDEML has no handle for it.
    if (item.empty() || item.size() > 255) {
        result.refusal = TPokeOutcome::Refused;
        return result;
    }
    if (!partner_ && relink_ && !(wantService_.empty() && wantTopic_.empty())) {
        service_ = wantService_;
        topic_ = wantTopic_;
        if (Initiate()) {
            Open();
        } else {
            service_.clear();
            topic_.clear();
        }
    }
    if (!partner_) return result; // NoLink
    if (queue_.size() >= kMaxWaiting) {
        result.refusal = TPokeOutcome::TooManyWaiting;
        return result;
    }
    std::string bytes(UpToFirstZero(text));
    bytes.push_back('\0');
    result.queued = true;
    result.id = nextId_++;
    queue_.push_back(Line{result.id, item, std::move(bytes), GetTickCount64()});
    if (!awaitingAck_ && !retryPlanned_) SendNext();
    RunTimers();
    return result;
}

void TDdeClientConv::SendNext() {
    while (partner_ && !awaitingAck_ && !retryPlanned_ && !queue_.empty()) {
        ExpireWaiting();
        if (queue_.empty()) break;
        if (PostPoke(queue_.front())) {
            frontSince_ = GetTickCount64();
            break;
        }
        if (!IsWindow(partner_)) {
            ServerEnded();
            return;
        }
        Finish(TPokeOutcome::NoAnswer); // no memory, or the server's queue is full
    }
    RunTimers();
}

bool TDdeClientConv::PostPoke(const Line& line) {
    UniqueAtom item(GlobalAddAtomA(line.item.c_str()));
    if (!item) return false;
    HGLOBAL block = PostDdePoke(partner_, Window(), item.get(), line.bytes);
    if (!block) return false;
    // On its way: the data is the server's once it takes the poke; the atom comes back with
    // the acknowledgement, which deletes it.
    item.release();
    pendingData_ = block;
    awaitingAck_ = true;
    return true;
}

void TDdeClientConv::OnAck(HWND from, LPARAM lparam) {
    // An answer to WM_DDE_INITIATE is sent; an answer to a poke is posted.
    if (initiating_ || InSendMessage()) {
        TakeInitiateAck(lparam);
        if (initiating_ && !partner_)
            partner_ = from;
        else // a second server, or one that answered after the round
            PostMessageA(from, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(Window()), 0);
        return;
    }
    // An answer that cannot be read is no answer: the poke's time runs on.
    const std::optional<WORD> status = TakeDdeAck(lparam);
    if (!status || !awaitingAck_ || from != partner_) return; // a stranger's, or unreadable
    if (*status & DDE_FACK) {
        Finish(TPokeOutcome::Delivered);
        SendNext();
        return;
    }
    // Refused or busy: the data stays with the sender.
    GlobalFree(pendingData_);
    pendingData_ = nullptr;
    awaitingAck_ = false;
    if (*status & DDE_FBUSY) {
        // A server that waits on something itself; the line goes again after a pause,
        // until it has taken the time a poke may take since it was queued.
        busyPauseMs_ =
            busyPauseMs_ ? std::min(busyPauseMs_ * 2, kLastBusyPauseMs) : kFirstBusyPauseMs;
        retryAt_ = GetTickCount64() + busyPauseMs_;
        retryPlanned_ = true;
        RunTimers();
        return;
    }
    Finish(TPokeOutcome::Refused);
    SendNext();
}

void TDdeClientConv::OnTerminate(HWND from) {
    if (from != partner_) return; // a stranger's
    PostMessageA(from, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(Window()), 0);
    ServerEnded();
}

void TDdeClientConv::OnPokeTimeUp() {
    // No answer: one that comes late must not pass for the next poke's, so the conversation
    // ends and a new one starts at once for the lines behind.
    Finish(TPokeOutcome::NoAnswer);
    EndConversation();
    if (!(wantService_.empty() && wantTopic_.empty()) && relink_) {
        service_ = wantService_;
        topic_ = wantTopic_;
        if (Initiate()) {
            Open();
            SendNext();
            return;
        }
        service_.clear();
        topic_.clear();
    }
    GiveUpQueue(relink_ ? TPokeOutcome::NoLink : TPokeOutcome::LinkEnded);
    PlanRelink();
}

void TDdeClientConv::Finish(TPokeOutcome outcome) {
    awaitingAck_ = false;
    retryPlanned_ = false;
    busyPauseMs_ = 0;
    frontSince_ = 0;
    pendingData_ = nullptr;
    const TPokeId id = queue_.front().id;
    queue_.pop_front();
    if (OnPokeDone) OnPokeDone(*this, id, outcome);
}

void TDdeClientConv::ExpireWaiting() {
    // The lines behind the one on its way (or all, when none is): oldest first.
    const std::size_t first = (awaitingAck_ || retryPlanned_) ? 1 : 0;
    const ULONGLONG now = GetTickCount64();
    while (queue_.size() > first && now - queue_[first].queuedAt > kMaxWaitMs) {
        const TPokeId id = queue_[first].id;
        queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(first));
        if (OnPokeDone) OnPokeDone(*this, id, TPokeOutcome::WaitedTooLong);
    }
}

void TDdeClientConv::ServerEnded() {
    if (!partner_) return;
    Close();
    partner_ = nullptr;
    NewWindow();
    GiveUpQueue(TPokeOutcome::LinkEnded);
    relinkDelayMs_ = kFirstRelinkMs;
    PlanRelink();
}

void TDdeClientConv::GiveUpQueue(TPokeOutcome outcome) {
    KillTimer(Window(), kTickTimer);
    awaitingAck_ = false;
    retryPlanned_ = false;
    busyPauseMs_ = 0;
    frontSince_ = 0;
    pendingData_ = nullptr; // on its way: the server may hold it
    std::deque<Line> lost;
    lost.swap(queue_);
    for (const Line& line : lost)
        if (OnPokeDone) OnPokeDone(*this, line.id, outcome);
}

void TDdeClientConv::PlanRelink() {
    if (!relink_ || partner_ || (wantService_.empty() && wantTopic_.empty())) return;
    relinkPlanned_ = true;
    SetTimer(Window(), kRelinkTimer, relinkDelayMs_, nullptr);
}

void TDdeClientConv::Relink() {
    KillTimer(Window(), kRelinkTimer);
    relinkPlanned_ = false;
    if (partner_ || !relink_) return;
    service_ = wantService_;
    topic_ = wantTopic_;
    if (Initiate()) {
        Open();
        return;
    }
    service_.clear();
    topic_.clear();
    relinkDelayMs_ = std::min(relinkDelayMs_ * 2, kLastRelinkMs);
    PlanRelink();
}

void TDdeClientConv::RunTimers() {
    if (queue_.empty())
        KillTimer(Window(), kTickTimer);
    else
        SetTimer(Window(), kTickTimer, kTickMs, nullptr);
}

void TDdeClientConv::Close() {
    if (OnClose) OnClose(*this);
}

void TDdeClientConv::Open() {
    if (OnOpen) OnOpen(*this);
}

} // namespace velkor
