// help: the About window and its help text.
#include "app/help.h"

#include "Version.h"

namespace velkor {

namespace {

constexpr int kOkId = 101;
constexpr int kRemoteId = 102; // not IDCANCEL (2), which the Escape key sends

constexpr const char* kHelpText =
    "Speak freely: only the ones holding the key are listening.\r\n"
    "\r\n"
    "(Maximise this window for easier reading.)\r\n"
    "\r\n"
    "velkor " VELKOR_VERSION ", released " VELKOR_RELEASE_DATE ".\r\n"
    "Changes from the previous version: every cipher byte of a line now goes on the wire,\r\n"
    "so no sent line is ever cut short; over-long lines are refused with a message.\r\n"
    "A click into the display that selects nothing leaves the clipboard as it was.\r\n"
    "Lines go to mIRC in the background, in order: a busy mIRC no longer freezes the window.\r\n"
    "A line that does not reach mIRC is marked in the display, e.g. "
    "\"[NOT SENT: mIRC refused it] hello\"; no typed line is lost without that mark.\r\n"
    "When mIRC answers busy, the line is sent again after a short pause, for up to 10 s.\r\n"
    "At most 50 lines wait behind a slow mIRC, none longer than about 12 s; the others are "
    "marked.\r\n"
    "The status bar shows \"DDE: linked\" or \"DDE: not linked\" at its right end.\r\n"
    "A lost link to mIRC is tried again by itself (after 1 s, growing to 30 s), and a line "
    "typed while unlinked tries at once.\r\n"
    "Every link to mIRC uses a window of its own: an old link's goodbye cannot end a new "
    "one, and a poke that gets no answer ends its link, so late answers are never taken "
    "for the next line's.\r\n"
    "Pasted text with line breaks goes out line by line, each line enciphered or a command "
    "of its own, after \"Send N lines?\" (Enter sends, Escape cancels); before, the whole "
    "paste went to mIRC as one command and its later lines in clear.\r\n"
    "A second velkor started under the same file name says that velkor is already running, "
    "brings the first window to the front and ends; before, it took every incoming line "
    "from the first. A copy under another file name is another DDE service and runs.\r\n"
    "Looking for mIRC asks every window at once: hung programs on the desktop no longer "
    "make a link, or Manual connect, fail.\r\n"
    "The input box keeps at least one text line and the display a few lines, whatever the "
    "splitter or the window's size; the focus never sits in a box that cannot be seen.\r\n"
    "PgUp, PgDn, Ctrl+Home and Ctrl+End in the input box scroll the display.\r\n"
    "The display's scroll bar follows the lines as they arrive.\r\n"
    "The display asks for a fixed-pitch font: it stays monospaced without Courier New.\r\n"
    "Note: the encryption of this release is not compatible with the prior release.\r\n"
    "\r\n"
    "Requirements: the IRC client mIRC 4.0 or later (tested on the 32-bit 4.1).\r\n"
    "\r\n"
    "velkor is a chat-encryption add-on for mIRC. It uses mIRC's DDE features to pass "
    "encrypted conversations over an IRC channel between people who run velkor with the "
    "same key. Everyone else on the channel sees printable noise.\r\n"
    "\r\n"
    "How it works:\r\n"
    "1. Start mIRC.\r\n"
    "2. Switch mIRC's DDE server on with \"/ddeserver on\". You may give a server ID "
    "(\"/ddeserver on myid\"); then set the same name under Options/DDE/ServerID here.\r\n"
    "3. In mIRC 5 or later, load the remote event from velkor.mrc (in velkor's zip) with "
    "\"/load -rs velkor.mrc\"; it forwards only velkor's wire texts. In mIRC 4, install "
    "the remote event below in mIRC's remote events, on one line and unchanged:\r\n"
    "   1:ON TEXT:*:#:/dde velkor velkor \"\" $chan $nick $parms\r\n"
    "4. Turn listening on in mIRC's remote events.\r\n"
    "5. Start velkor.\r\n"
    "6. Join the channel in mIRC and set it here under IRC/Channel.\r\n"
    "7. Exchange a key with the people meant to read the channel, and set it under "
    "Encryption/Set key.\r\n"
    "8. Turn encryption on with Encryption/On.\r\n"
    "9. Type in velkor's input box. Text typed in mIRC's own input line is not "
    "encrypted.\r\n"
    "\r\n"
    "Some helpful tips:\r\n"
    "1. Options/Buffer lines and Options/Command buffer set how many lines the display and "
    "the command history keep; File/Save buffer saves the display.\r\n"
    "2. The up and down arrow keys in the input box recall the lines sent before; PgUp, "
    "PgDn, Ctrl+Home and Ctrl+End scroll the display.\r\n"
    "3. Lines starting with \"/\" go to mIRC unencrypted, as commands.\r\n"
    "4. When in trouble, try Options/DDE/Manual connect.\r\n"
    "5. Copy and paste the remote event rather than typing it.\r\n"
    "6. The button on this page copies the remote event for pasting into mIRC.\r\n"
    "\r\n"
    "velkor is free. It comes without any warranty, and its use or export may be subject "
    "to the restrictions on cryptography that apply where you are.\r\n"
    "\r\n"
    "The IDEA cipher is implemented here after its published description.\r\n"
    "\r\n"
    "A secret shared is a secret kept by all.\r\n";

} // namespace

TfHelp::TfHelp(TApplication& application, TForm& owner)
    : TForm(application, &owner, "Velkor About"), ownerForm_(owner),
      font_(CreatePointFont("Arial", 10, Dpi())) {
    // Owned window: it stays above the chat window and goes with it.
    SetWindowLongPtrA(Handle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner.Handle()));
    DialogKeys = true; // Tab, Enter and Escape as in a dialog box

    // The panels hold the controls: Tab looks into them (control parents).
    Panel1 = new TPanel(this, *this, WS_EX_STATICEDGE | WS_EX_CONTROLPARENT);
    Memo1 = new TControl(this, *Panel1, "EDIT",
                         WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_NOHIDESEL |
                             ES_AUTOVSCROLL);
    // A multi-line edit asks for every key, so Tab, Enter and Escape would stop at it: the
    // read-only text wants only arrows and characters.
    Memo1->OnMessage = [this](UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (msg == WM_GETDLGCODE) return DLGC_WANTARROWS | DLGC_WANTCHARS;
        if (msg == WM_SETFOCUS) SetDefaultButton(OK);
        return std::nullopt;
    };
    Panel2 = new TPanel(this, *this, WS_EX_CONTROLPARENT);
    OK =
        new TControl(this, *Panel2, "BUTTON", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, kOkId);
    RemoteCB = new TControl(this, *Panel2, "BUTTON", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0,
                            kRemoteId);
    OK->SetCaption("OK");
    RemoteCB->SetCaption("Copy Remote Command to Clipboard");
    OK->OnCommand = [this](WORD) { OKClick(); };
    RemoteCB->OnCommand = [this](WORD) { RemoteCBClick(); };
    AddCommand(IDCANCEL, [this] { OKClick(); }); // Escape
    for (TControl* c : {Memo1, OK, RemoteCB})
        c->SetFont(font_.get());
    for (TControl* button : {OK, RemoteCB})
        button->OnMessage = [this, button](UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
            if (msg == WM_SETFOCUS) SetDefaultButton(button);
            return std::nullopt;
        };
    defaultButton_ = OK;
    Memo1->SetCaption(kHelpText);
    Layout();
}

TfHelp::~TfHelp() {
    DestroyComponents();
}

void TfHelp::OKClick() {
    SendMessageA(Handle(), WM_CLOSE, 0, 0);
}

void TfHelp::RemoteCBClick() {
    CopyTextToClipboard(Handle(), RemoteEventLine);
}

void TfHelp::FormClose() {
    // The close action is "free": hide now, be deleted by the owner once this returns.
    if (released_) return;
    released_ = true;
    ShowWindow(Handle(), SW_HIDE);
    PostMessageA(ownerForm_.Handle(), ReleaseMessage, 0, reinterpret_cast<LPARAM>(this));
}

void TfHelp::SetDefaultButton(TControl* button) {
    if (!button || !defaultButton_ || button == defaultButton_) return;
    // What the dialog manager does in a dialog box: the heavy border moves with the focus.
    SendMessageA(defaultButton_->Handle(), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendMessageA(button->Handle(), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    defaultButton_ = button;
}

void TfHelp::Layout() {
    RECT client;
    GetClientRect(Handle(), &client);
    const int w = client.right, h = client.bottom;
    // Sizes at 96 dpi, scaled to the window's.
    const int strip = Scaled(40), margin = Scaled(4);
    Panel1->SetBounds(0, 0, w, h - strip);
    Memo1->SetBounds(margin, margin, w - 2 * margin, h - strip - 2 * margin);
    Panel2->SetBounds(0, h - strip, w, strip);
    OK->SetBounds(Scaled(8), Scaled(7), Scaled(80), Scaled(26));
    RemoteCB->SetBounds(Scaled(96), Scaled(7), Scaled(260), Scaled(26));
}

void TfHelp::DpiChanged() {
    UniqueFont font = CreatePointFont("Arial", 10, Dpi());
    for (TControl* c : {Memo1, OK, RemoteCB})
        c->SetFont(font.get());
    font_ = std::move(font);
    Layout();
}

LRESULT TfHelp::WndProc(UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_SIZE:
        if (Panel2) Layout();
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wparam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(Handle(), focus)) lastFocus_ = focus;
        }
        return TForm::WndProc(msg, wparam, lparam);
    case WM_SETFOCUS:
        // Activated: the focus goes to a control, OK the first time.
        if (OK) SetFocus(lastFocus_ && IsWindow(lastFocus_) ? lastFocus_ : OK->Handle());
        return 0;
    case DM_GETDEFID:
        return MAKELRESULT(GetDlgCtrlID(defaultButton_->Handle()), DC_HASDEFID);
    case WM_CLOSE:
        FormClose();
        return 0;
    default:
        return TForm::WndProc(msg, wparam, lparam);
    }
}

} // namespace velkor
