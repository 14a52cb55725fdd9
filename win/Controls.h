// Controls: the small pieces the chat window and the About window share: fonts, an open
// clipboard, a control whose messages and notifications its form can hook, and a panel.
#pragma once

#include "win/Forms.h"

#include <optional>
#include <string>
#include <string_view>

namespace velkor {

// A font by face name and point size, for `dpi` dots per inch (0: the screen's). `fixed` asks
// for a fixed pitch, so a machine without the face still gets a monospaced one.
UniqueFont CreatePointFont(const char* face, int points, UINT dpi = 0, bool bold = false,
                           bool fixed = false);
// The system's status-bar font, for `dpi` dots per inch.
UniqueFont CreateStatusFont(UINT dpi);

// The clipboard, open for as long as this object lives.
class ClipboardLock {
  public:
    explicit ClipboardLock(HWND owner);
    ~ClipboardLock();
    ClipboardLock(const ClipboardLock&) = delete;
    ClipboardLock& operator=(const ClipboardLock&) = delete;

    explicit operator bool() const { return open_; }

  private:
    bool open_;
};

// Replaces the clipboard's content with `text` as plain text; throws when it cannot.
void CopyTextToClipboard(HWND owner, std::string_view text);

// A control of a system class whose messages its form may take first: OnMessage answers
// a message by returning a result, or lets the control handle it by returning nullopt.
// OnCommand and OnNotify take the control's own notifications (a button's BN_CLICKED, a
// rich-text box's EN_SELCHANGE), whichever window they were sent to.
class TControl : public TWinControl {
  public:
    TControl(TComponent* owner, TWinControl& parent, const char* className, DWORD style,
             DWORD exStyle = 0, int id = 0);

    std::function<std::optional<LRESULT>(UINT msg, WPARAM wparam, LPARAM lparam)> OnMessage;
    std::function<void(WORD code)> OnCommand;
    std::function<LRESULT(NMHDR& header)> OnNotify;

    void SetBounds(int left, int top, int width, int height);
    void SetFont(HFONT font);

  protected:
    LRESULT WndProc(UINT msg, WPARAM wparam, LPARAM lparam) override;
    void Command(WORD code) override;
    LRESULT Notify(NMHDR& header) override;
};

// A static panel that holds controls; their notifications go back to them through it.
class TPanel : public TControl {
  public:
    TPanel(TComponent* owner, TWinControl& parent, DWORD exStyle = 0);
};

} // namespace velkor
