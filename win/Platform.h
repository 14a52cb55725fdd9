// Platform: the Win32 base every window of the program and of its harness builds on: one
// message window class whose messages go to a handler, the DPI and the program's path.
// (Handle owners are in Handles.h.)
#pragma once

#include "win/Handles.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace velkor {

// A window that only takes messages: message-only (HWND_MESSAGE: never sees other programs'
// broadcasts) or a hidden top-level one (DDE initiates are broadcast to top-level windows,
// so a DDE server needs one). Its messages go to the handler, given before the window is
// made, so it sees the creation messages too; what the handler leaves (std::nullopt) goes
// to DefWindowProc. The window is destroyed with the object, on the thread that made it.
class TMessageWindow {
  public:
    enum class TKind { MessageOnly, TopLevel };
    using THandler = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;

    // Throws std::runtime_error when the window cannot be made.
    TMessageWindow(TKind kind, THandler handler, const char* title = "");
    ~TMessageWindow();
    TMessageWindow(const TMessageWindow&) = delete;
    TMessageWindow& operator=(const TMessageWindow&) = delete;

    HWND Handle() const { return hwnd_.get(); }

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

    THandler handler_;
    UniqueHwnd hwnd_;
};

// Dots per inch of the monitor a window is on (the system's before Windows 10 1607).
UINT WindowDpi(HWND hwnd);
// The system DPI, which the system's own metrics are given for.
UINT ScreenDpi();

// The executable's full path, and its file name without the directory.
std::string ModuleFileName();
std::string ModuleBaseName();

} // namespace velkor
