// Velkor: the chat window program started for a test and driven from this process as a
// person and the IRC client would: typing, keys, menu commands, the settings dialogs, the
// message box, pokes into NONE, and reads of its controls across the process boundary.
#pragma once

#include "harness/kit/DdeClients.h"
#include "harness/kit/Process.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velkor::kit {

// The build's velkor.exe.
std::string VelkorExe();

class Velkor {
  public:
    // Starts `exe` (the build's velkor.exe when empty) and waits until its window has run
    // its start-up; throws when it does not come.
    explicit Velkor(const std::string& exe = {});
    // Closes the window and waits for the program to end.
    ~Velkor();
    // The same now: true once it ended within `ms`.
    bool Quit(DWORD ms = 10000);
    Velkor(const Velkor&) = delete;
    Velkor& operator=(const Velkor&) = delete;

    HWND Main() const { return main_; }
    HWND Display() const { return display_; }
    HWND InputBox() const { return input_; }
    HWND StatusBar() const { return status_; }
    DWORD ProcessId() const { return process_.Id(); }

    std::string StatusText(int part) const;
    std::string DisplayText() const;
    // Paragraphs of the display; the empty position after the last break is no line.
    std::vector<std::string> DisplayLines() const;
    std::string InputText() const;
    // WM_GETTEXTLENGTH of the display: cheap where reading a large display is not.
    std::size_t DisplayLength() const;
    // The length as the control keeps it, a paragraph break one character: what its text
    // limit counts.
    std::size_t StoredLength() const;
    // The window answers a message within `ms` (a large line can keep it busy for seconds).
    bool Alive(DWORD ms = 5000) const;
    // Returns once the window has handled what was posted to it before.
    void Sync() const;

    // Types `line` into the input box and presses Enter; true once the send was handled
    // (the box emptied), false when it was not sent (a message box, or no answer in time).
    bool Type(const std::string& line,
              std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // Puts `text` into the input box (WM_SETTEXT), as typed in one go.
    void SetInput(const std::string& text);
    // Posts Enter to the input box, without waiting; with `line`, after setting it.
    void PressEnter();
    void Enter(const std::string& line);
    // The input box emptied within `timeout`: the send has been handled.
    bool WaitSent(std::chrono::milliseconds timeout = std::chrono::milliseconds(15000)) const;
    void Key(WORD vk);    // a key press in the input box, handled before this returns
    void Menu(int id);    // posts the menu command
    void Command(int id); // the menu command, handled before this returns
    // Pokes "channel nick text" into item NONE, as the IRC client's remote event does;
    // whether it was acknowledged.
    bool Poke(const std::string& data);

    // A settings dialog: the menu command opens it, `entry` goes into its field, then OK
    // (confirm) or Cancel; `whileOpen` is called before that with the dialog. Once the
    // dialog has gone and its handler ran, what the field showed when it opened.
    struct Field {
        std::string text;
        int selStart = 0, selEnd = 0;
        int limit = 0;
    };
    std::optional<Field> Setting(int menuId, const char* caption, const std::string& entry,
                                 bool confirm = true,
                                 const std::function<void(HWND dialog)>& whileOpen = {});
    bool SetKey(const std::string& key);
    bool Encryption(bool on); // the "On" check mark, until the status line agrees
    // The program's message box ("#32770" titled "velkor"), or nullptr; its text; OK.
    HWND MessageBoxWindow() const;
    std::string MessageBoxText() const;
    bool DismissMessageBox();

    // As a person meets the window: real input goes through the system's input queue to
    // whichever window has the focus. Brings the window to the front; true once the input
    // box has the keyboard focus.
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
    HANDLE Handle() const { return process_.Handle(); }

    Process process_;
    mutable HMODULE probe_ = nullptr; // the menu probe's base inside the program
    HWND main_ = nullptr, display_ = nullptr, input_ = nullptr, status_ = nullptr;
    std::optional<DdemlClient> poker_;
};

} // namespace velkor::kit
