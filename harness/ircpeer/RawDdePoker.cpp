// Pokes texts on an empty item name into a DDE server with raw DDE messages.
#include "tools/ircpeer/RawDdePoker.h"

#include "app/win/Handles.h"
#include "dde/DdeMessages.h"

#include <dde.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>

namespace ircpeer {

namespace {

constexpr UINT kPumpMessage = WM_APP + 10;
constexpr UINT_PTR kAckTimer = 1;
constexpr UINT_PTR kRetryTimer = 2;

std::string Hex(unsigned value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", value);
    return buf;
}

// The UTF-16 bytes of a text and a zero character: its UTF-8, else its ANSI code page.
std::string Utf16Bytes(const std::string& text) {
    const int length = static_cast<int>(text.size());
    UINT codePage = CP_UTF8;
    int size = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (size <= 0 && length > 0) {
        codePage = CP_ACP;
        size = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(std::max(size, 0)) + 1, L'\0');
    if (size > 0) MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), size);
    return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

} // namespace

RawDdePoker::RawDdePoker(std::string service, std::string topic, bool perLine, Log log)
    : MessageWindow("ircpeer remote event"), service_(std::move(service)), topic_(std::move(topic)),
      perLine_(perLine), log_(std::move(log)) {}

RawDdePoker::~RawDdePoker() {
    KillTimer(Handle(), kAckTimer);
    KillTimer(Handle(), kRetryTimer);
    if (server_) PostMessageA(server_, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(Handle()), 0);
    if (!queue_.empty())
        log_("remote event: " + std::to_string(queue_.size()) + " poke(s) not delivered at exit");
}

void RawDdePoker::Enqueue(std::string text) {
    queue_.push_back(Event{std::move(text), GetTickCount64()});
    // Start from the message loop, not from inside the caller: Initiate runs a nested
    // SendMessage wait in which other DDE traffic of this thread can be dispatched.
    if (!awaitingAck_ && !pumpPosted_ && PostMessageA(Handle(), kPumpMessage, 0, 0))
        pumpPosted_ = true;
}

void RawDdePoker::Pump() {
    KillTimer(Handle(), kRetryTimer);
    GiveUpStale();
    while (!queue_.empty() && !awaitingAck_) {
        const std::string& text = queue_.front().text;
        bool posted = false;
        // A conversation may have died without a WM_DDE_TERMINATE (its window destroyed):
        // then the post fails and one fresh conversation is tried.
        for (int attempt = 0; attempt < 2 && !posted; ++attempt) {
            if (!server_ && !Initiate()) break;
            posted = PostPoke(text);
            if (!posted) DropConversation();
        }
        if (posted) {
            if (retrying_) log_("remote event: " + service_ + "|" + topic_ + " answers again");
            retrying_ = false;
            return;
        }
        // Nobody answered (not started yet, or busy starting): the text waits and the
        // initiate is repeated, as long as the oldest text is younger than kGiveUpMs.
        if (!retrying_)
            log_("remote event: no DDE server " + service_ + "|" + topic_ +
                 " answers; retrying for " + std::to_string(kGiveUpMs / 1000) + " s");
        retrying_ = true;
        SetTimer(Handle(), kRetryTimer, kRetryMs, nullptr);
        return;
    }
}

void RawDdePoker::GiveUpStale() {
    const ULONGLONG now = GetTickCount64();
    while (!queue_.empty() && !awaitingAck_ && now - queue_.front().queuedAt >= kGiveUpMs) {
        log_("remote event: no DDE server " + service_ + "|" + topic_ + " answered within " +
             std::to_string(kGiveUpMs / 1000) + " s; given up: " + queue_.front().text);
        queue_.pop_front();
    }
}

bool RawDdePoker::Initiate() {
    velkor::UniqueAtom service(GlobalAddAtomA(service_.c_str()));
    velkor::UniqueAtom topic(GlobalAddAtomA(topic_.c_str()));
    if (!service || !topic) return false;
    initiating_ = true;
    // Each window gets a short time of its own: a hung program does not hold us up.
    velkor::BroadcastInitiate(Handle(), service.get(), topic.get());
    initiating_ = false;
    if (server_ && !perLine_)
        log_("remote event: conversation with " + service_ + "|" + topic_ + " opened");
    return server_ != nullptr;
}

bool RawDdePoker::PostPoke(const std::string& text) {
    // Without an item, atom 0: the empty item name, which DDEML passes as hsz2 = 0. The
    // text goes with its zero byte (character).
    std::string data(text.c_str(), text.size() + 1);
    if (unicode_) data = Utf16Bytes(text);
    // The server takes the item atom with the message.
    const ATOM item = item_.empty() ? 0 : GlobalAddAtomA(item_.c_str());
    HGLOBAL block = velkor::PostDdePoke(server_, Handle(), item, data,
                                        static_cast<short>(unicode_ ? CF_UNICODETEXT : CF_TEXT));
    if (!block) {
        if (item) GlobalDeleteAtom(item);
        return false;
    }
    pending_ = block;
    awaitingAck_ = true;
    SetTimer(Handle(), kAckTimer, ackTimeoutMs_, nullptr);
    return true;
}

void RawDdePoker::OnAck(HWND from, LPARAM lParam) {
    if (initiating_) {
        velkor::TakeInitiateAck(lParam);
        if (!server_)
            server_ = from;
        else if (from != server_)
            PostMessageA(from, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(Handle()), 0);
        return;
    }
    const std::optional<WORD> ack = velkor::TakeDdeAck(lParam);
    if (!ack || !awaitingAck_ || from != server_) return; // unreadable: the time-out decides
    const WORD status = *ack;
    if (!(status & 0x8000)) {
        // A refused poke leaves its data with the sender.
        GlobalFree(pending_);
        log_("remote event: " + service_ + "|" + topic_ + " refused the poke (status " +
             Hex(static_cast<unsigned>(status)) + "): " + queue_.front().text);
    }
    pending_ = nullptr;
    Finish();
}

void RawDdePoker::OnTerminate(HWND from) {
    if (from != server_) return;
    PostMessageA(from, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(Handle()), 0);
    server_ = nullptr;
    if (!perLine_)
        log_("remote event: conversation with " + service_ + "|" + topic_ + " ended by the server");
    if (awaitingAck_) {
        log_("remote event: not acknowledged before the end: " + queue_.front().text);
        pending_ = nullptr;
        Finish();
    }
}

void RawDdePoker::Finish() {
    KillTimer(Handle(), kAckTimer);
    awaitingAck_ = false;
    queue_.pop_front();
    // mIRC's "/dde" ends its conversation once the poke is answered.
    if (perLine_) DropConversation();
    Pump();
}

void RawDdePoker::DropConversation() {
    if (server_) PostMessageA(server_, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(Handle()), 0);
    server_ = nullptr;
}

LRESULT RawDdePoker::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case kPumpMessage:
        pumpPosted_ = false;
        Pump();
        return 0;
    case WM_DDE_ACK:
        OnAck(reinterpret_cast<HWND>(wParam), lParam);
        return 0;
    case WM_DDE_TERMINATE:
        OnTerminate(reinterpret_cast<HWND>(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == kRetryTimer) {
            Pump();
        } else if (wParam == kAckTimer && awaitingAck_) {
            // The server may still own the data: it is left to it rather than freed.
            log_("remote event: no acknowledgement within " + std::to_string(ackTimeoutMs_ / 1000) +
                 " s; dropping the conversation; maybe lost: " + queue_.front().text);
            pending_ = nullptr;
            DropConversation();
            Finish();
        }
        return 0;
    default:
        return MessageWindow::HandleMessage(msg, wParam, lParam);
    }
}

} // namespace ircpeer
