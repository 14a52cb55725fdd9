// Raw WM_DDE_* client for the tests.
#include "tests/dde/raw_dde_client.h"

#include "dde/DdeInitiate.h"

#include <dde.h>

#include <cstddef>
#include <cstring>

namespace {

constexpr char kClass[] = "VelkorRawDdeClient";
constexpr DWORD kReplyTimeoutMs = 5000;

} // namespace

ATOM ItemAtom(const std::string& item) {
    return item.empty() ? 0 : GlobalAddAtomA(item.c_str());
}

RawDdeClient::RawDdeClient() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassA(&wc); // fails harmlessly when registered already
    hwnd_ = CreateWindowA(kClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                          GetModuleHandleA(nullptr), this);
}

RawDdeClient::~RawDdeClient() {
    Terminate();
    if (hwnd_) DestroyWindow(hwnd_);
}

LRESULT CALLBACK RawDdeClient::Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE)
        SetWindowLongPtrA(
            hwnd, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams));
    auto* self = reinterpret_cast<RawDdeClient*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, msg, wparam, lparam);
    switch (msg) {
    case WM_DDE_ACK:
        if (!self->server_) {
            // The answer to WM_DDE_INITIATE, sent: its atoms are ours to delete.
            self->server_ = reinterpret_cast<HWND>(wparam);
            GlobalDeleteAtom(LOWORD(lparam));
            GlobalDeleteAtom(HIWORD(lparam));
        } else {
            UINT_PTR status = 0, atom = 0;
            UnpackDDElParam(WM_DDE_ACK, lparam, &status, &atom);
            FreeDDElParam(WM_DDE_ACK, lparam);
            if (atom) GlobalDeleteAtom(static_cast<ATOM>(atom));
            self->replies_.push_back({WM_DDE_ACK, static_cast<WORD>(status)});
        }
        return 0;
    case WM_DDE_DATA: {
        UINT_PTR data = 0, atom = 0;
        UnpackDDElParam(WM_DDE_DATA, lparam, &data, &atom);
        FreeDDElParam(WM_DDE_DATA, lparam);
        bool ackReq = false;
        if (auto* block = static_cast<DDEDATA*>(GlobalLock(reinterpret_cast<HGLOBAL>(data)))) {
            ackReq = block->fAckReq;
            const bool release = block->fRelease;
            GlobalUnlock(reinterpret_cast<HGLOBAL>(data));
            if (release) GlobalFree(reinterpret_cast<HGLOBAL>(data));
        }
        if (ackReq)
            PostMessageA(self->server_, WM_DDE_ACK, reinterpret_cast<WPARAM>(hwnd),
                         PackDDElParam(WM_DDE_ACK, 0x8000, atom));
        else if (atom)
            GlobalDeleteAtom(static_cast<ATOM>(atom));
        self->replies_.push_back({WM_DDE_DATA, 0x8000});
        return 0;
    }
    case WM_DDE_TERMINATE:
        self->replies_.push_back({WM_DDE_TERMINATE, 0});
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

bool RawDdeClient::Initiate(const std::string& service, const std::string& topic) {
    const ATOM app = ItemAtom(service); // atom 0 asks any service, or any topic
    const ATOM top = ItemAtom(topic);
    velkor::BroadcastInitiate(hwnd_, app, top);
    if (app) GlobalDeleteAtom(app);
    if (top) GlobalDeleteAtom(top);
    return server_ != nullptr;
}

bool RawDdeClient::Post(UINT msg, LPARAM lparam) {
    return server_ && PostMessageA(server_, msg, reinterpret_cast<WPARAM>(hwnd_), lparam);
}

std::optional<RawDdeClient::Reply> RawDdeClient::Wait() {
    const DWORD start = GetTickCount();
    while (replies_.empty() && GetTickCount() - start < kReplyTimeoutMs) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    if (replies_.empty()) return std::nullopt;
    const Reply reply = replies_.front();
    replies_.pop_front();
    return reply;
}

std::optional<WORD> RawDdeClient::Poke(const std::string& item, std::string_view text) {
    // Sized exactly: sizeof(DDEPOKE) has padding that would arrive as data.
    const size_t header = offsetof(DDEPOKE, Value);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, header + text.size() + 1);
    auto* poke = static_cast<DDEPOKE*>(GlobalLock(block));
    poke->fRelease = 1;
    poke->cfFormat = CF_TEXT;
    std::memcpy(poke->Value, text.data(), text.size());
    poke->Value[text.size()] = 0;
    GlobalUnlock(block);
    const ATOM atom = ItemAtom(item);
    // 64-bit needs PackDDElParam: a handle and an atom do not fit one LPARAM.
    const LPARAM lparam = PackDDElParam(WM_DDE_POKE, reinterpret_cast<UINT_PTR>(block), atom);
    if (!Post(WM_DDE_POKE, lparam)) {
        FreeDDElParam(WM_DDE_POKE, lparam);
        GlobalFree(block);
        return std::nullopt;
    }
    const auto reply = Wait();
    if (!reply || reply->message != WM_DDE_ACK) return std::nullopt;
    return reply->status;
}

std::optional<WORD> RawDdeClient::Advise(const std::string& item) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, sizeof(DDEADVISE));
    auto* advise = static_cast<DDEADVISE*>(GlobalLock(block));
    advise->fDeferUpd = 0;
    advise->fAckReq = 0;
    advise->cfFormat = CF_TEXT;
    GlobalUnlock(block);
    const LPARAM lparam =
        PackDDElParam(WM_DDE_ADVISE, reinterpret_cast<UINT_PTR>(block), ItemAtom(item));
    if (!Post(WM_DDE_ADVISE, lparam)) {
        FreeDDElParam(WM_DDE_ADVISE, lparam);
        GlobalFree(block);
        return std::nullopt;
    }
    const auto reply = Wait();
    if (!reply || reply->message != WM_DDE_ACK) return std::nullopt;
    if (!(reply->status & 0x8000))
        GlobalFree(block); // a refused advise leaves the options with the client
    return reply->status;
}

std::optional<WORD> RawDdeClient::Request(const std::string& item) {
    if (!Post(WM_DDE_REQUEST, MAKELPARAM(CF_TEXT, ItemAtom(item)))) return std::nullopt;
    const auto reply = Wait();
    if (!reply) return std::nullopt;
    // A served request may be followed by an extra acknowledgement: drop it.
    if (reply->message == WM_DDE_DATA) {
        MSG msg;
        for (int i = 0; i < 5; ++i) {
            Sleep(10);
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
        }
        replies_.clear();
    }
    return reply->status;
}

void RawDdeClient::Terminate() {
    if (!server_) return;
    if (Post(WM_DDE_TERMINATE, 0)) Wait();
    server_ = nullptr;
    replies_.clear();
}
