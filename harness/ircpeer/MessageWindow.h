// A hidden top-level window whose messages go to a C++ object.
#pragma once

#include <windows.h>

namespace ircpeer {

class MessageWindow {
  public:
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;
    // Not movable either: the window holds `this` for the rest of its life.
    MessageWindow(MessageWindow&&) = delete;
    MessageWindow& operator=(MessageWindow&&) = delete;

    HWND Handle() const { return hwnd_; }

  protected:
    // Creates the window; throws std::runtime_error when it cannot.
    explicit MessageWindow(const char* title);
    virtual ~MessageWindow();

    // Messages other than those handled here go to DefWindowProc.
    virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

  private:
    static LRESULT CALLBACK Trampoline(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
};

} // namespace ircpeer
