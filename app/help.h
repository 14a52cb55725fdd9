// help: the About window: the help text, a button that closes it and one that copies the
// remote-event line the IRC client needs. Not modal; each closed window frees itself.
#pragma once

#include "win/Controls.h"

#include <string_view>

namespace velkor {

// The line the IRC client runs for every channel message, poking it into this program.
inline constexpr std::string_view RemoteEventLine =
    "1:ON TEXT:*:#:/dde velkor velkor \"\" $chan $nick $parms";

class TfHelp : public TForm {
  public:
    // Posted to the owner form, lParam the closed window: the owner deletes it. A window
    // cannot delete its own object inside its window procedure.
    static constexpr UINT ReleaseMessage = WM_APP + 1;

    TfHelp(TApplication& application, TForm& owner);
    ~TfHelp() override;

    void OKClick();
    void RemoteCBClick();

  protected:
    LRESULT WndProc(UINT msg, WPARAM wparam, LPARAM lparam) override;
    void DpiChanged() override;

  private:
    void FormClose();
    void Layout();
    // The button that Enter presses: the focused one, else OK (as in a dialog box).
    void SetDefaultButton(TControl* button);

    TForm& ownerForm_;
    UniqueFont font_;
    TPanel* Panel1 = nullptr;
    TControl* Memo1 = nullptr;
    TPanel* Panel2 = nullptr;
    TControl* OK = nullptr;
    TControl* RemoteCB = nullptr;
    TControl* defaultButton_ = nullptr;
    HWND lastFocus_ = nullptr; // given back when the window is active again
    bool released_ = false;
};

} // namespace velkor
