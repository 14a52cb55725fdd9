// Pokes texts on an empty item name into a DDE server with raw DDE messages.
#include "harness/ircpeer/RawDdePoker.h"

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
    : window_(
          velkor::TMessageWindow::TKind::TopLevel,
          [this](HWND, UINT msg, WPARAM w, LPARAM l) { return HandleMessage(msg, w, l); },
          "ircpeer remote event"),
      service_(std::move(service)), topic_(std::move(topic)), perLine_(perLine),
      log_(std::move(log)) {
    client_.onReply = [this](const velkor::kit::RawDdeClient::Reply& reply) { OnReply(reply); };
    client_.onServerEnded = [this] { OnServerEnded(); };
}

RawDdePoker::~RawDdePoker() {
    KillTimer(Handle(), kAckTimer);
    KillTimer(Handle(), kRetryTimer);
    client_.onReply = nullptr;
    client_.onServerEnded = nullptr;
    client_.Drop();
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
            if (!client_.Linked() && !Initiate()) break;
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
    // Each window gets a short time of its own: a hung program does not hold us up.
    if (!client_.Initiate(service_, topic_)) return false;
    if (!perLine_) log_("remote event: conversation with " + service_ + "|" + topic_ + " opened");
    return true;
}

bool RawDdePoker::PostPoke(const std::string& text) {
    // Without an item, atom 0: the empty item name, which DDEML passes as hsz2 = 0. The
    // text goes with its zero byte (character).
    std::string data(text.c_str(), text.size() + 1);
    if (unicode_) data = Utf16Bytes(text);
    const HGLOBAL block =
        client_.PostPoke(item_, data, static_cast<short>(unicode_ ? CF_UNICODETEXT : CF_TEXT));
    if (!block) return false;
    pending_ = block;
    awaitingAck_ = true;
    SetTimer(Handle(), kAckTimer, ackTimeoutMs_, nullptr);
    return true;
}

void RawDdePoker::OnReply(const velkor::kit::RawDdeClient::Reply& reply) {
    if (reply.message != WM_DDE_ACK || !awaitingAck_) return;
    const WORD status = reply.status;
    if (!(status & 0x8000)) {
        // A refused poke leaves its data with the sender.
        GlobalFree(pending_);
        log_("remote event: " + service_ + "|" + topic_ + " refused the poke (status " +
             Hex(static_cast<unsigned>(status)) + "): " + queue_.front().text);
    }
    pending_ = nullptr;
    Finish();
}

void RawDdePoker::OnServerEnded() {
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
    client_.Drop();
}

std::optional<LRESULT> RawDdePoker::HandleMessage(UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case kPumpMessage:
        pumpPosted_ = false;
        Pump();
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
        return std::nullopt;
    }
}

} // namespace ircpeer
