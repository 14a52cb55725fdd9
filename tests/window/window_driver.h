// Test driver for the chat window: the IRC client's DDE command server on its own thread,
// a DDE client that pokes the window's item NONE, and the launched velkor.exe with
// cross-process reads of its controls.
#pragma once

#include <windows.h>

#include <ddeml.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Polls `done` until it holds or the time is up; returns done().
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Service "mirc", topic "command": records every poke's text.
class MircServer {
  public:
    MircServer();
    ~MircServer();
    MircServer(const MircServer&) = delete;
    MircServer& operator=(const MircServer&) = delete;

    std::vector<std::string> Pokes() const;
    size_t Count() const;

  private:
    static HDDEDATA CALLBACK Callback(UINT type, UINT fmt, HCONV, HSZ, HSZ, HDDEDATA data,
                                      ULONG_PTR, ULONG_PTR);
    void Run();

    static inline MircServer* instance_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<std::string> pokes_;
    std::thread thread_;
    DWORD threadId_ = 0;
    HANDLE ready_;
};

// The launched program and its controls.
class Velkor {
  public:
    Velkor();
    ~Velkor();
    Velkor(const Velkor&) = delete;
    Velkor& operator=(const Velkor&) = delete;

    HWND Main() const { return main_; }
    HWND Display() const { return display_; }
    HWND InputBox() const { return input_; }

    std::string StatusText(int part) const;
    std::string DisplayText() const;
    std::vector<std::string> DisplayLines() const;
    std::string InputText() const;

    // Types `line` into the input box and presses Enter; waits until the send was handled
    // (the box emptied) and returns true, or returns false when it was not sent.
    bool Type(const std::string& line);
    void Key(WORD vk); // a key press in the input box, handled before this returns
    void Menu(int id); // posts the menu command
    // Pokes "channel nick text" into item NONE, as the IRC client's remote event does.
    bool Poke(const std::string& data);

    DWORD ProcessId() const { return info_.dwProcessId; }

    // As a person meets the window: real input goes through the system's input queue
    // (SendInput, below) to whichever window has the focus, so these read what it reached.
    // Brings the window to the front; true once the input box has the keyboard focus.
    bool Activate();
    HWND Focus() const; // the window with the keyboard focus on the chat window's thread
    // A character's position in a rich-text or edit control, in its client coordinates.
    POINT CharPosition(HWND control, int index) const;
    // Sends `msg` with lParam pointing at a copy of `data` inside the program and copies
    // it back after (messages whose pointers the system does not carry across processes).
    LRESULT SendWithData(HWND hwnd, UINT msg, WPARAM wparam, void* data, size_t size) const;
    // GetMenuState of a command in the main menu, or in the pop-up menu while it is open,
    // read inside the program by an injected probe; 0xFFFFFFFF when there is no such menu.
    DWORD MenuState(int id, bool popup) const;

  private:
    PROCESS_INFORMATION info_{};
    mutable HMODULE probe_ = nullptr; // the menu probe's base inside the program
    HWND main_ = nullptr, display_ = nullptr, input_ = nullptr, status_ = nullptr;
    DWORD ddeInstance_ = 0;
    HCONV conv_ = nullptr;
};

std::string WindowText(HWND hwnd);
// A top-level window of the process with this class and caption, or nullptr.
HWND FindTopWindow(DWORD processId, const char* className, const std::string& caption);
std::vector<HWND> FindTopWindows(DWORD processId, const std::string& caption);
// A descendant window with this class and text, or nullptr.
HWND FindChild(HWND parent, const char* className, const std::string& text);
std::string ClipboardText();
void SetClipboardText(const std::string& text);

// Real input (SendInput): keys with held modifiers, typed text, clicks and drags at points
// in a window's client coordinates.
void PressKey(WORD vk, std::initializer_list<WORD> held = {});
void TypeKeys(const std::string& text);
void Click(HWND hwnd, POINT at, bool right = false);
void Drag(HWND hwnd, POINT from, POINT to);
// A window's rectangle in the client coordinates of `in`.
RECT RectIn(HWND hwnd, HWND in);
