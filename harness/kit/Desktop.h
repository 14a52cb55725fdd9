// Desktop: what a Wine test finds and does on the desktop: windows of a process and their
// texts, the clipboard, real input (SendInput) and memory inside another process.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace velkor::kit {

// WM_GETTEXT, which also reads a control of another process.
std::string WindowText(HWND hwnd);
// A top-level window of the process with this class (nullptr: any) and caption, or nullptr.
HWND FindTopWindow(DWORD processId, const char* className, const std::string& caption);
// The visible top-level windows of the process with this caption.
std::vector<HWND> FindTopWindows(DWORD processId, const std::string& caption);
// A descendant window with this class and text (any text when none), or nullptr.
HWND FindChild(HWND parent, const char* className, const std::string& text);
HWND FindChild(HWND parent, const char* className);
// Every window of the process, top-level (DDEML's conversation windows among them) and
// child windows.
int ProcessWindows(DWORD processId);
// A window's rectangle in the client coordinates of `in`.
RECT RectIn(HWND hwnd, HWND in);

std::string ClipboardText();
void SetClipboardText(const std::string& text);

// Real input through the system's input queue, to whichever window has the focus: keys
// with held modifiers, typed text, clicks and drags at points in a window's client
// coordinates.
void PressKey(WORD vk, std::initializer_list<WORD> held = {});
void TypeKeys(const std::string& text);
void Click(HWND hwnd, POINT at, bool right = false);
void Drag(HWND hwnd, POINT from, POINT to);

// A block of memory inside another process, for messages whose pointers the system does
// not carry across processes (WM_USER messages such as SB_GETTEXT, EM_POSFROMCHAR of a
// rich-text control).
class RemoteMemory {
  public:
    RemoteMemory(HANDLE process, SIZE_T size);
    ~RemoteMemory();
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    void* Address() const { return address_; }
    // The address as a message parameter.
    LPARAM Param() const { return reinterpret_cast<LPARAM>(address_); }
    void Write(const void* data, SIZE_T size);
    void Read(void* data, SIZE_T size) const;

  private:
    HANDLE process_;
    void* address_;
};

} // namespace velkor::kit
