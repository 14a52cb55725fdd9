// A hidden top-level window whose messages go to a C++ object.
#include "tools/ircpeer/MessageWindow.h"

#include <stdexcept>

namespace ircpeer {

namespace {

constexpr const char* kClassName = "IrcPeerMessageWindow";

} // namespace

MessageWindow::MessageWindow(const char* title) {
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &MessageWindow::Trampoline;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClassName;
        return RegisterClassA(&wc) != 0;
    }();
    if (!registered) throw std::runtime_error("cannot register the window class");
    // A real top-level window rather than HWND_MESSAGE: DDE partners find and answer
    // ordinary windows, and a message-only window gets no broadcasts.
    // Messages sent during creation reach this base's HandleMessage only: the derived
    // object does not exist yet.
    if (!CreateWindowExA(0, kClassName, title, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                         GetModuleHandleA(nullptr), this))
        throw std::runtime_error("cannot create a window (is there a display?)");
}

MessageWindow::~MessageWindow() {
    if (hwnd_) {
        // Unbind first: the derived part is already gone when WM_DESTROY arrives.
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

LRESULT MessageWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd_, msg, wParam, lParam);
}

LRESULT CALLBACK MessageWindow::Trampoline(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* self = static_cast<MessageWindow*>(create->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MessageWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, msg, wParam, lParam);
    return self->HandleMessage(msg, wParam, lParam);
}

} // namespace ircpeer
