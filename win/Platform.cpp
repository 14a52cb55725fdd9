// Platform: the message window, the DPI and the program's path.
#include "win/Platform.h"

#include <stdexcept>

namespace velkor {

namespace {

constexpr char kMessageWindowClass[] = "VelkorMessageWindow";

} // namespace

TMessageWindow::TMessageWindow(TKind kind, THandler handler, const char* title)
    : handler_(std::move(handler)) {
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kMessageWindowClass;
        return RegisterClassA(&wc) != 0;
    }();
    if (!registered) throw std::runtime_error("the message window class cannot be registered");
    const bool topLevel = kind == TKind::TopLevel;
    // Proc binds the object at WM_NCCREATE, before CreateWindowEx returns.
    if (!CreateWindowExA(0, kMessageWindowClass, title, topLevel ? WS_POPUP : 0, 0, 0, 0, 0,
                         topLevel ? nullptr : HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                         this)) {
        hwnd_.reset(); // made and destroyed again during creation: gone already
        throw std::runtime_error("a window cannot be made (is there a display?)");
    }
}

TMessageWindow::~TMessageWindow() {
    // Unbound first: the messages of its destruction find no handler.
    if (hwnd_) SetWindowLongPtrA(hwnd_.get(), GWLP_USERDATA, 0);
}

LRESULT CALLBACK TMessageWindow::Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE) {
        auto* self =
            static_cast<TMessageWindow*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
        self->hwnd_.reset(hwnd);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TMessageWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self && self->handler_) {
        if (const std::optional<LRESULT> result = self->handler_(hwnd, msg, wparam, lparam))
            return *result;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

UINT WindowDpi(HWND hwnd) {
    // GetDpiForWindow came with Windows 10 1607: looked up, so older systems still start.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(hwnd)) return dpi;
    }
    return ScreenDpi();
}

UINT ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

std::string ModuleFileName() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::string ModuleBaseName() {
    const std::string path = ModuleFileName();
    const auto slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace velkor
