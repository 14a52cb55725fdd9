// Main: the chat window's controls and layout, start-up, the outgoing and incoming line
// paths and the display. The menu commands are in Mainmenu.cpp.
#include "app/Main.h"

#include "app/Menuids.h"
#include "app/Richdisplay.h"
#include "app/help.h"
#include "chat/Chatlines.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <stdexcept>

namespace velkor {

namespace {

constexpr LPARAM kDisplayTextLimit = 2000000;
constexpr UINT kFocusInputMessage = WM_APP + 2;
constexpr UINT kLinkStatusMessage = WM_APP + 3;
// Sizes at 96 dpi; the window scales them to its own.
constexpr int kToolBarHeight = 2;
constexpr int kSendSize = 2;
constexpr int kPanel0Width = 45;
constexpr int kLinkPanelWidth = 110; // status panel 2, at the right end
// The display keeps at least this many text lines in view, the input box one.
constexpr int kMinDisplayLines = 3;
constexpr char kLinkedText[] = "DDE: linked";
constexpr char kUnlinkedText[] = "DDE: not linked";
// Repaints of the display are merged: at most one per this many milliseconds.
constexpr UINT_PTR kRepaintTimer = 1;
constexpr UINT kRepaintDelayMs = 40;

} // namespace

TfMain::TfMain(TApplication& application)
    : TForm(application, &application, "velkor"), richEditLibrary_(LoadLibraryA("riched20.dll")) {
    if (!richEditLibrary_) throw std::runtime_error("riched20.dll cannot be loaded.");
    // As the component is loaded: byte-array-free, whole-file input, block by block.
    Blowfish1.SetInputType(TSourceType::SourceFile);
    Blowfish1.SetInputLength(0);
    Blowfish1.SetCipherMode(TCipherMode::ECBMode);

    CreateControls();
    CreateMenus();
    ApplyDpi();
    FormCreate();
    Layout();
}

TfMain::~TfMain() {
    // The controls go before the RichEdit library, the font and the menus they use.
    DestroyComponents();
}

void TfMain::CreateControls() {
    using namespace controlid;
    ToolBar = new TPanel(this, *this);
    ToolBar->SetName("ToolBar");
    // Out of sight: the default button that Enter in the input box presses.
    Send =
        new TControl(this, *ToolBar, "BUTTON", WS_VISIBLE | BS_DEFPUSHBUTTON, 0, controlid::Send);
    Send->SetName("Send");
    Send->SetCaption("Send");
    Send->OnCommand = [this](WORD code) {
        if (code == BN_CLICKED) SendClick();
    };
    // A button takes the focus when pressed; this one must never keep it, or Space and
    // Enter would go to it instead of the input box.
    Send->OnMessage = [this](UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (msg == WM_SETFOCUS) PostMessageA(Handle(), kFocusInputMessage, 0, 0);
        return std::nullopt;
    };

    Display = new TControl(this, *this, RICHEDIT_CLASSA,
                           WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL |
                               ES_DISABLENOSCROLL | ES_NOHIDESEL,
                           WS_EX_CLIENTEDGE, controlid::Display);
    Display->SetName("Display");
    SendMessageA(Display->Handle(), EM_SETEVENTMASK, 0, ENM_SELCHANGE);
    Display->OnNotify = [this](NMHDR& header) -> LRESULT {
        // Our own appends, trims and clears move the selection too: not the user's.
        if (header.code == EN_SELCHANGE && !updatingDisplay_) DisplaySelectionChange();
        return 0;
    };
    Display->OnMessage = [this](UINT msg, WPARAM, LPARAM lparam) -> std::optional<LRESULT> {
        if (msg == WM_CONTEXTMENU) {
            POINT p{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
            if (lparam == -1) { // from the keyboard: at the display's corner
                p = {0, 0};
                ClientToScreen(Display->Handle(), &p);
            }
            TrackPopupMenu(PopupMenu1.get(), TPM_RIGHTBUTTON, p.x, p.y, 0, Handle(), nullptr);
            FocusInputBox();
            return 0;
        }
        // The display is read-only: after any click (a selection made, or none, or one
        // below the last line that changed nothing) typing goes on in the input box.
        if (msg == WM_LBUTTONUP) PostMessageA(Handle(), kFocusInputMessage, 0, 0);
        return std::nullopt;
    };

    Splitter1 = new TSplitter(this, *this);
    Splitter1->SetName("Splitter1");

    InputBox =
        new TControl(this, *this, "EDIT", WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL,
                     WS_EX_CLIENTEDGE, controlid::InputBox);
    InputBox->SetName("InputBox");
    InputBox->OnMessage = [this](UINT msg, WPARAM wparam, LPARAM) -> std::optional<LRESULT> {
        switch (msg) {
        case WM_KEYDOWN:
            // The keyboard reads back in the display without leaving the input box.
            if (const int scroll = DisplayScrollKey(static_cast<WORD>(wparam)); scroll >= 0) {
                SendMessageA(Display->Handle(), WM_VSCROLL, static_cast<WPARAM>(scroll), 0);
                return 0;
            }
            if (wparam == VK_RETURN) {
                // Enter is not a line break here: it does what pressing the default button
                // does, without the button (BM_CLICK would move the focus to it).
                RunHandler(Handle(), [this] { SendClick(); });
                return 0;
            }
            RunHandler(Handle(), [&] { InputBoxKeyDown(static_cast<WORD>(wparam)); });
            return std::nullopt; // the box still gets the key
        case WM_CHAR:
            // No line breaks; and no tab characters: the box is the window's only tab
            // stop, so Tab leaves the focus where it is.
            if (wparam == '\r' || wparam == '\n' || wparam == '\t') return 0;
            return std::nullopt;
        case WM_KEYUP:
            RunHandler(Handle(), [&] { InputBoxKeyUp(static_cast<WORD>(wparam)); });
            return std::nullopt;
        default:
            return std::nullopt;
        }
    };
    Splitter1->ResizingControl = InputBox;
    Splitter1->OnMoved = [this](int dy) {
        // The drag moved the top edge the user saw: the new wish is that height, within
        // one text line of the box and the display's few lines.
        const int wanted = std::clamp(
            shownInputHeight_ - dy, minInputHeight_,
            std::max(minInputHeight_, shownInputHeight_ + DisplayHeight() - minDisplayHeight_));
        // Rounded up, so that the height at this DPI is never below the wanted one.
        inputHeight96_ = (wanted * 96 + static_cast<int>(Dpi()) - 1) / static_cast<int>(Dpi());
        Layout();
    };

    StatusBar1 = new TControl(this, *this, STATUSCLASSNAMEA, WS_VISIBLE | SBARS_SIZEGRIP, 0,
                              controlid::StatusBar1);
    StatusBar1->SetName("StatusBar1");

    say = new TDdeClientConv(this);
    say->SetName("say");
    say->SetServiceApplication("mIRC32");
    say->SetServiceFallback("mirc"); // mIRC's program name since its 32-bit versions
    // A link that ends, or that no server answered, is tried again by itself.
    say->SetRelink(true);
    say->OnOpen = [this](TComponent&) { UpdateLinkStatus(); };
    say->OnClose = [this](TComponent&) {
        // Told before the conversation is gone: the panel follows once it is.
        PostMessageA(Handle(), kLinkStatusMessage, 0, 0);
    };
    say->OnPokeDone = [this](TDdeClientConv&, TPokeId id, TPokeOutcome outcome) {
        RunHandler(Handle(), [&] { LineDone(id, outcome); });
    };
    NONE = new TDdeServerItem(this);
    NONE->SetName("NONE");
    NONE->OnPokeData = [this](TComponent&) { RunHandler(Handle(), [this] { NONEPokeData(); }); };
}

void TfMain::ApplyDpi() {
    // The controls take the new fonts before the old ones go.
    UniqueFont font = CreatePointFont("Courier New", 10, Dpi(), false, true);
    UniqueFont statusFont = CreateStatusFont(Dpi());
    Display->SetFont(font.get());
    InputBox->SetFont(font.get());
    if (statusFont) StatusBar1->SetFont(statusFont.get());
    font_ = std::move(font);
    statusFont_ = std::move(statusFont);
    RECT client;
    GetClientRect(Handle(), &client);
    SetStatusParts(client.right);
    Send->SetBounds(0, 0, Scaled(kSendSize), Scaled(kSendSize));
    Splitter1->SetThickness(Scaled(TSplitter::ThicknessAt96));
    MeasureMinimumHeights();
}

void TfMain::MeasureMinimumHeights() {
    // A text line of the font, and the frame each control draws around its text.
    HDC dc = GetDC(Handle());
    HGDIOBJ old = SelectObject(dc, font_.get());
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(Handle(), dc);
    const auto frame = [](HWND control) {
        RECT r{0, 0, 0, 0};
        AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrA(control, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongPtrA(control, GWL_EXSTYLE)));
        return r.bottom - r.top;
    };
    const int line = metrics.tmHeight + metrics.tmExternalLeading;
    minInputHeight_ = line + frame(InputBox->Handle());
    minDisplayHeight_ = kMinDisplayLines * line + frame(Display->Handle());
}

int TfMain::DisplayHeight() const {
    RECT r;
    GetWindowRect(Display->Handle(), &r);
    return r.bottom - r.top;
}

int TfMain::StatusHeight() const {
    if (!IsWindowVisible(StatusBar1->Handle())) return 0;
    RECT r;
    GetWindowRect(StatusBar1->Handle(), &r);
    return r.bottom - r.top;
}

int TfMain::DisplayScrollKey(WORD key) {
    const bool control = GetKeyState(VK_CONTROL) < 0;
    switch (key) {
    case VK_PRIOR:
        return SB_PAGEUP;
    case VK_NEXT:
        return SB_PAGEDOWN;
    case VK_HOME:
        return control ? SB_TOP : -1;
    case VK_END:
        return control ? SB_BOTTOM : -1;
    default:
        return -1;
    }
}

void TfMain::SetStatusParts(int width) {
    // Panel 0 at the left, the link's panel 2 at the right, the status line between.
    int parts[3] = {Scaled(kPanel0Width),
                    std::max(Scaled(kPanel0Width), width - Scaled(kLinkPanelWidth)), -1};
    SendMessageA(StatusBar1->Handle(), SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));
}

void TfMain::DpiChanged() {
    ApplyDpi();
    Layout();
}

void TfMain::Layout() {
    // Minimised, the client area is 0 x 0: nothing to fit, and nothing to remember of it.
    if (!StatusBar1 || IsIconic(Handle())) return;
    RECT client;
    GetClientRect(Handle(), &client);
    const int w = client.right, h = client.bottom;
    SetStatusParts(w);
    if (IsWindowVisible(StatusBar1->Handle())) SendMessageA(StatusBar1->Handle(), WM_SIZE, 0, 0);
    const int statusHeight = StatusHeight();
    const int toolBarHeight = Scaled(kToolBarHeight);
    const int bar = Splitter1->Thickness();
    // A small window shows less of the input box than wanted, but never less than a text
    // line, and leaves the display its few lines; the wish stays as it is, so that the box
    // is back at its height when the window grows again. The window is kept from being
    // smaller than both need (WM_GETMINMAXINFO).
    const int room = std::max(0, h - statusHeight - toolBarHeight - bar);
    shownInputHeight_ = std::clamp(Scaled(inputHeight96_), minInputHeight_,
                                   std::max(minInputHeight_, room - minDisplayHeight_));
    const int inputTop = h - statusHeight - shownInputHeight_;
    ToolBar->SetBounds(0, 0, w, toolBarHeight);
    InputBox->SetBounds(0, inputTop, w, shownInputHeight_);
    MoveWindow(Splitter1->Handle(), 0, inputTop - bar, w, bar, TRUE);
    Display->SetBounds(0, toolBarHeight, w, std::max(0, inputTop - bar - toolBarHeight));
}

void TfMain::FormCreate() {
    settings_ = chat::TChatSettings{}; // key, channel, server, topic and both sizes
    CommandHistory = std::make_unique<chat::TCommandHistory>();
    SendMessageA(Display->Handle(), EM_EXLIMITTEXT, 0, kDisplayTextLimit);
    Manualconnect1Click();
}

void TfMain::FormDestroy() {
    CommandHistory.reset();
}

void TfMain::Manualconnect1Click() {
    // A failed link shows in status panel 2 and is tried again by itself.
    say->LinkTo(settings_.ServerName, settings_.TopicName);
    UpdateStatusLine();
    UpdateLinkStatus();
}

void TfMain::UpdateLinkStatus() {
    SetStatusText(2, say->Linked() ? kLinkedText : kUnlinkedText);
}

void TfMain::UpdateStatusLine() {
    SetStatusText(1, chat::StatusLineText(settings_));
}

void TfMain::SetStatusText(int part, const std::string& text) {
    SendMessageA(StatusBar1->Handle(), SB_SETTEXTA, static_cast<WPARAM>(part),
                 reinterpret_cast<LPARAM>(text.c_str()));
}

std::string TfMain::InputText() const {
    return InputBox->Caption();
}

void TfMain::SetInputText(const std::string& text) {
    InputBox->SetCaption(text);
    const auto end = static_cast<LPARAM>(text.size());
    SendMessageA(InputBox->Handle(), EM_SETSEL, end, end);
}

void TfMain::FocusInputBox() {
    SetFocus(InputBox->Handle());
}

void TfMain::SendClick() {
    // A paste or a drop may have put line breaks into the box: each line goes on its own.
    const std::vector<chat::TOutgoingLine> lines = session_.OutgoingLines(InputText());
    if (lines.size() == 1 && !lines.front().Accepted) {
        MessageBoxA(Handle(), std::string(lines.front().Refusal).c_str(), "velkor", MB_OK);
        return;
    }
    // Enter confirms, Escape cancels; cancelled, the box keeps the text.
    if (lines.size() > 1 && MessageBoxA(Handle(), chat::SendLinesQuestion(lines.size()).c_str(),
                                        "velkor", MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    for (const chat::TOutgoingLine& line : lines)
        SendLine(line);
    UpdateLinkStatus();
    SetInputText("");
}

void TfMain::SendLine(const chat::TOutgoingLine& out) {
    // Echoed first: a line that cannot go is marked in its echo, possibly at once.
    const std::uint64_t echoKey = nextEchoKey_++;
    if (!out.Echo.empty()) echoes_.Echoed(echoKey, AddToDisplay(out.Echo).start);
    poking_ = true;
    const TPokeQueued poke = say->PokeText("\"\"", out.Command);
    poking_ = false;
    if (poke) {
        sentLines_[poke.id] = SentLine{echoKey, out.Echo};
        if (const auto early = earlyOutcomes_.find(poke.id); early != earlyOutcomes_.end()) {
            const TPokeOutcome outcome = early->second;
            earlyOutcomes_.erase(early);
            LineDone(poke.id, outcome);
        }
    } else {
        ChangeDisplay([&](TRichDisplay& rich) {
            chat::ReportDelivery(rich, echoes_, echoKey, out.Echo, NotSentMark(poke.refusal),
                                 settings_.DisplayBufferSize);
        });
    }
    AddToHistory(out.History);
}

void TfMain::LineDone(TPokeId id, TPokeOutcome outcome) {
    const auto sent = sentLines_.find(id);
    if (sent == sentLines_.end()) {
        if (poking_) earlyOutcomes_[id] = outcome; // SendClick reports it
        return;
    }
    const SentLine line = std::move(sent->second);
    sentLines_.erase(sent);
    ChangeDisplay([&](TRichDisplay& rich) {
        chat::ReportDelivery(rich, echoes_, line.echoKey, line.echo, NotSentMark(outcome),
                             settings_.DisplayBufferSize);
    });
}

void TfMain::AddToHistory(const std::string& text) {
    CommandHistory->AddToHistory(text, settings_.CommandBufferSize);
}

void TfMain::InputBoxKeyDown(WORD key) {
    if (const auto recalled = CommandHistory->Recall(key)) SetInputText(*recalled);
}

void TfMain::InputBoxKeyUp(WORD) {
    DWORD caret = 0;
    SendMessageA(InputBox->Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
    SetStatusText(0, "\t" + chat::InputStatusText(InputText().size(), caret)); // tab: centred
}

void TfMain::NONEPokeData() {
    if (const auto shown = session_.Incoming(NONE->Text())) AddToDisplay(*shown);
}

chat::TDisplayAppend TfMain::AddToDisplay(const std::string& text) {
    chat::TDisplayAppend appended;
    if (text.empty()) return appended;
    ChangeDisplay([&](TRichDisplay& rich) {
        appended = chat::AddToDisplay(rich, text, settings_.DisplayBufferSize);
    });
    echoes_.Removed(appended.removed);
    return appended;
}

void TfMain::ChangeDisplay(const std::function<void(TRichDisplay&)>& change) {
    HWND display = Display->Handle();
    // A visible RichEdit repaints on every change, and under a flood of pokes the paint
    // between two pokes costs more than the change itself. Redraw stays off from the first
    // change until a short timer lets one repaint show every change made meanwhile.
    if (!repaintPending_) {
        SendMessageA(display, WM_SETREDRAW, FALSE, 0);
        repaintPending_ = SetTimer(Handle(), kRepaintTimer, kRepaintDelayMs, nullptr) != 0;
    }
    updatingDisplay_ = true;
    // Our own trims and appends move the selection: no notifications for them.
    const LRESULT events = SendMessageA(display, EM_SETEVENTMASK, 0, 0);
    struct Restore {
        TfMain& self;
        HWND display;
        LRESULT events;
        ~Restore() {
            SendMessageA(display, EM_SETEVENTMASK, 0, events);
            self.updatingDisplay_ = false;
            if (!self.repaintPending_) // no timer: repaint now
                self.RepaintDisplay();
        }
    } restore{*this, display, events};
    // A user who has scrolled back to read keeps the view; at the newest line it follows.
    TRichDisplay rich(display, true);
    change(rich);
    rich.RestoreView();
}

void TfMain::RepaintDisplay() {
    if (repaintPending_) {
        KillTimer(Handle(), kRepaintTimer);
        repaintPending_ = false;
    }
    HWND display = Display->Handle();
    SendMessageA(display, WM_SETREDRAW, TRUE, 0);
    // The frame too: the scroll bar is drawn there, and with redraw off its thumb was not
    // moved when the appends changed the range.
    RedrawWindow(display, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
}

void TfMain::DisplaySelectionChange() {
    // Copies only a selection the user made; our appends and trims are not reported here.
    // An empty selection leaves the clipboard alone: a click into the display must not
    // wipe what the user copied elsewhere.
    const std::string selected = SelectedText(Display->Handle());
    if (!selected.empty()) CopyTextToClipboard(Handle(), selected);
    // While the button is down the user may still be dragging: the release refocuses.
    if (GetKeyState(VK_LBUTTON) >= 0) FocusInputBox();
}

LRESULT TfMain::WndProc(UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_SIZE:
        Layout();
        return 0;
    case WM_GETMINMAXINFO:
        if (StatusBar1) { // not before the controls exist
            // Room for the toolbar, the display's few lines, the bar, a line of input and
            // the status bar, in a client area of this window's frame and menu.
            RECT window, client;
            GetWindowRect(Handle(), &window);
            GetClientRect(Handle(), &client);
            const int frame = (window.bottom - window.top) - client.bottom;
            auto& info = *reinterpret_cast<MINMAXINFO*>(lparam);
            info.ptMinTrackSize.y =
                std::max<LONG>(info.ptMinTrackSize.y,
                               frame + Scaled(kToolBarHeight) + minDisplayHeight_ +
                                   Splitter1->Thickness() + minInputHeight_ + StatusHeight());
        }
        return 0;
    case WM_SETFOCUS:
        if (InputBox) FocusInputBox();
        return 0;
    case kFocusInputMessage:
        FocusInputBox();
        return 0;
    case kLinkStatusMessage:
        UpdateLinkStatus();
        return 0;
    case WM_TIMER:
        if (wparam == kRepaintTimer) {
            RepaintDisplay();
            return 0;
        }
        return TForm::WndProc(msg, wparam, lparam);
    case TfHelp::ReleaseMessage: {
        auto* closed = reinterpret_cast<TComponent*>(lparam);
        for (TComponent* c : Components())
            if (c == closed) {
                delete closed;
                break;
            }
        return 0;
    }
    case WM_DESTROY:
        FormDestroy();
        return TForm::WndProc(msg, wparam, lparam);
    default:
        return TForm::WndProc(msg, wparam, lparam);
    }
}

} // namespace velkor
