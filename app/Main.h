// Main: the chat window. It wires the Win32 controls, menus and DDE components to the chat
// logic: typed lines go out through the client conversation, poked lines come in through
// the server item NONE, and both reach the display through AddToDisplay.
#pragma once

#include "app/Richdisplay.h"
#include "chat/Chatsession.h"
#include "chat/Chatsettings.h"
#include "chat/History.h"
#include "crypto/Ideaunit.h"
#include "dde/MyDdemanServer.h"
#include "win/Controls.h"
#include "win/Splitctl.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velkor {

class TfMain : public TForm {
  public:
    explicit TfMain(TApplication& application);
    ~TfMain() override;

    // Start-up and connection.
    void FormCreate();
    void FormDestroy();
    void Manualconnect1Click();
    void UpdateStatusLine();
    // Status panel 2: whether the client conversation is linked to the IRC client.
    void UpdateLinkStatus();

    // Outgoing lines and the command history.
    void SendClick();
    // One line of the input on its way: echo, poke, history.
    void SendLine(const chat::TOutgoingLine& line);
    void AddToHistory(const std::string& text);
    void InputBoxKeyDown(WORD key);
    void InputBoxKeyUp(WORD key);

    // Incoming lines and the display.
    void NONEPokeData();
    chat::TDisplayAppend AddToDisplay(const std::string& text);
    // The outcome of a typed line's poke: a line not sent is marked in its echo.
    void LineDone(TPokeId id, TPokeOutcome outcome);
    // Shows what AddToDisplay changed: redraw back on and one repaint.
    void RepaintDisplay();
    void DisplaySelectionChange();

    // Menu commands.
    void Clearbuffer1Click();
    void Savebuffer1Click();
    void Exit1Click();
    void Setkey1Click();
    void On1Click();
    void Channel1Click();
    void Bufferlines1Click();
    void Commandbuffer1Click();
    void ServerID1Click();
    void HideStatusBar1Click();
    void About1Click();

  protected:
    LRESULT WndProc(UINT msg, WPARAM wparam, LPARAM lparam) override;
    void DpiChanged() override;

  private:
    void CreateControls();
    void CreateMenus();
    // Fonts and status panels for the window's DPI.
    void ApplyDpi();
    void Layout();
    // The input box's least height (a text line) and the display's (a few lines), in
    // pixels for the window's font.
    void MeasureMinimumHeights();
    int DisplayHeight() const;
    int StatusHeight() const; // 0 while hidden
    // The display's WM_VSCROLL code for a key pressed in the input box, or -1: PgUp, PgDn,
    // Ctrl+Home and Ctrl+End scroll the display.
    static int DisplayScrollKey(WORD key);
    void SetStatusParts(int width);
    void RunSettingDialog(chat::TSettingDialog dialog);
    void SetInputText(const std::string& text);
    std::string InputText() const;
    void SetStatusText(int part, const std::string& text);
    void FocusInputBox();
    // Runs `change` on the display with our own changes' redraw and selection handling.
    void ChangeDisplay(const std::function<void(TRichDisplay&)>& change);

    // Loaded before the display is created and freed after it is gone.
    UniqueModule richEditLibrary_;
    UniqueFont font_;
    UniqueFont statusFont_;
    UniqueMenu PopupMenu1;
    HMENU MainMenu1 = nullptr; // the window owns it once it is the window's menu

    chat::TChatSettings settings_;
    std::unique_ptr<chat::TCommandHistory> CommandHistory;
    TIDEA Blowfish1; // the IDEA cipher object (a historical name: no Blowfish here)
    // The line paths on these settings and Blowfish1.
    chat::TChatSession session_{settings_, Blowfish1, AnsiFromUtf16};

    TPanel* ToolBar = nullptr;
    TControl* Send = nullptr;
    TControl* Display = nullptr;
    TSplitter* Splitter1 = nullptr;
    TControl* InputBox = nullptr;
    TControl* StatusBar1 = nullptr;
    TDdeServerItem* NONE = nullptr; // the item the IRC client pokes channel lines into
    TDdeClientConv* say = nullptr;  // the conversation to the IRC client, for /msg commands

    // The input box's height at 96 dpi as the user wants it: only the splitter changes it.
    // Layout shows as much of it as the window has room for.
    int inputHeight96_ = 24;
    int shownInputHeight_ = 0; // what the last layout gave it, in pixels
    int minInputHeight_ = 0;
    int minDisplayHeight_ = 0;
    bool updatingDisplay_ = false; // our own appends, trims and clears move the selection
    bool repaintPending_ = false;  // display redraw held off until the repaint timer

    // Typed lines on their way to the IRC client: their echo (by its key in echoes_) and
    // text, so that one that fails is marked; outcomes told before PokeText returned.
    struct SentLine {
        std::uint64_t echoKey = 0;
        std::string echo;
    };
    std::map<TPokeId, SentLine> sentLines_;
    std::map<TPokeId, TPokeOutcome> earlyOutcomes_;
    bool poking_ = false;
    chat::TEchoPositions echoes_;
    std::uint64_t nextEchoKey_ = 1;
};

} // namespace velkor
