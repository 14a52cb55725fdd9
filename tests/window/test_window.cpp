// The chat window driven from another process under Wine: start-up, sending, receiving,
// history, display trim, settings dialogs, selection to clipboard, About windows.
#include "app/Menuids.h"
#include "chat/Linecodec.h"
#include "crypto/Ideaunit.h"
#include "harness/kit/DdeServers.h"
#include "harness/kit/Desktop.h"
#include "harness/kit/Process.h"
#include "harness/kit/Velkor.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <climits>
#include <fstream>
#include <memory>

using namespace velkor;
using namespace velkor::chat;
using namespace velkor::kit;

namespace {

const std::string kStartStatus =
    "Server: mirc   Channel: #velkor   Key: Enter Key!   Encryption: Off";

std::string Decrypt(const std::string& wire, const std::string& key) {
    TIDEA idea;
    return DecryptLine(idea, wire, key);
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mirc = std::make_unique<CommandServer>();
        app = std::make_unique<Velkor>();
    }
    void TearDown() override {
        app.reset();
        mirc.reset();
    }

    // A settings dialog by its menu command: its field shows `startValue` fully selected
    // and takes 255 characters; `entry` is confirmed (or cancelled).
    void Dialog(int menuId, const char* caption, const std::string& startValue,
                const std::string& entry, bool confirm) {
        const auto field = app->Setting(menuId, caption, entry, confirm);
        ASSERT_TRUE(field) << caption;
        EXPECT_EQ(field->text, startValue) << caption;
        EXPECT_EQ(field->selStart, 0);
        EXPECT_EQ(field->selEnd, static_cast<int>(startValue.size()))
            << "start value fully selected";
        EXPECT_EQ(field->limit, 255);
    }

    std::unique_ptr<CommandServer> mirc;
    std::unique_ptr<Velkor> app;
};

TEST_F(WindowTest, FreshStartShowsStartSettingsAndEmptyInputPanel) {
    EXPECT_EQ(app->StatusText(1), kStartStatus);
    EXPECT_EQ(app->StatusText(0), "");
    EXPECT_EQ(WindowText(app->Main()), "velkor");
    EXPECT_EQ(app->DisplayText(), "");
    EXPECT_EQ(SendMessageA(app->Display(), EM_GETLIMITTEXT, 0, 0), 2000000);
}

TEST_F(WindowTest, TypedLineIsEchoedAndPokedToTheChannel) {
    ASSERT_TRUE(app->Type("hello there"));
    ASSERT_TRUE(WaitFor([&] { return mirc->Count() == 1; }));
    EXPECT_EQ(mirc->Pokes()[0], "/msg #velkor hello there");
    EXPECT_EQ(app->DisplayLines(), std::vector<std::string>{"hello there"});

    // Panel 0 after typing: length and caret.
    app->SetInput("hello");
    SendMessageA(app->InputBox(), EM_SETSEL, 5, 5);
    app->Key(VK_END);
    EXPECT_EQ(app->StatusText(0), "\t5 : 5");
}

TEST_F(WindowTest, EncryptedLineGoesOutAsWireTextUnderTheKey) {
    Dialog(menuid::Setkey1, "Encryption Key", "Enter Key!", "sesame", true);
    ASSERT_TRUE(app->Encryption(true));
    EXPECT_EQ(app->StatusText(1), "Server: mirc   Channel: #velkor   Key: sesame   Encryption: On");

    ASSERT_TRUE(app->Type("meet at noon"));
    ASSERT_TRUE(WaitFor([&] { return mirc->Count() == 1; }));
    const std::string command = mirc->Pokes()[0];
    const std::string prefix = "/msg #velkor ";
    ASSERT_EQ(command.substr(0, prefix.size()), prefix);
    const std::string wire = command.substr(prefix.size());
    EXPECT_NE(wire, "meet at noon");
    EXPECT_EQ(Decrypt(wire, "sesame"), "meet at noon");
    EXPECT_NE(Decrypt(wire, "other"), "meet at noon");
    EXPECT_EQ(app->DisplayLines(), std::vector<std::string>{"meet at noon"}) << "echo is plain";

    // A command passes unenciphered, after its enciphered form passed the length test.
    ASSERT_TRUE(app->Type("/join #other"));
    ASSERT_TRUE(WaitFor([&] { return mirc->Count() == 2; }));
    EXPECT_EQ(mirc->Pokes()[1], "/join #other");
}

TEST_F(WindowTest, LinesOverTheWireLimitAreRefusedWithAMessage) {
    ASSERT_TRUE(app->Type(std::string(256, 'a')));
    ASSERT_TRUE(WaitFor([&] { return mirc->Count() == 1; }));
    EXPECT_EQ(mirc->Pokes()[0], "/msg #velkor " + std::string(256, 'a'));

    const std::string tooLong(257, 'b');
    EXPECT_FALSE(app->Type(tooLong));
    EXPECT_EQ(app->MessageBoxText(), "Your message exceeds IRC limits, please restate");
    ASSERT_TRUE(app->DismissMessageBox());
    EXPECT_EQ(app->InputText(), tooLong) << "the text stays for the user to shorten";
    EXPECT_EQ(mirc->Count(), 1u);
    EXPECT_EQ(app->DisplayLines().size(), 1u);
}

TEST_F(WindowTest, HistoryKeepsTheNewest81AndArrowsWalkIt) {
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(app->Type("line " + std::to_string(i)));
    app->Key(VK_DOWN); // one past the newest: nothing to show
    EXPECT_EQ(app->InputText(), "");
    app->Key(VK_UP);
    EXPECT_EQ(app->InputText(), "line 99");
    for (int i = 0; i < 90; ++i)
        app->Key(VK_UP);
    EXPECT_EQ(app->InputText(), "line 19") << "size 80 keeps 81 entries";
    app->Key(VK_DOWN);
    EXPECT_EQ(app->InputText(), "line 20");
}

TEST_F(WindowTest, PokedLinesOfTheChannelAreShown) {
    ASSERT_TRUE(app->Poke("#VELKOR bob hello"));
    ASSERT_TRUE(app->Poke("#other eve not for us"));
    ASSERT_TRUE(app->Poke("#velkor bob"));
    EXPECT_EQ(app->DisplayLines(), (std::vector<std::string>{"<bob> hello", "<> bob"}));

    // With encryption on, only wire texts are shown, deciphered.
    Dialog(menuid::Setkey1, "Encryption Key", "Enter Key!", "sesame", true);
    ASSERT_TRUE(app->Encryption(true));
    TIDEA idea;
    const std::string wire = EncryptLine(idea, "secret plan", "sesame");
    ASSERT_TRUE(app->Poke("#velkor bob hello"));
    ASSERT_TRUE(app->Poke("#velkor bob 3xyz"));
    ASSERT_TRUE(app->Poke("#velkor alice " + wire));
    EXPECT_EQ(app->DisplayLines(),
              (std::vector<std::string>{"<bob> hello", "<> bob", "<alice> secret plan"}));
}

TEST_F(WindowTest, DisplayKeepsTheNewest201Lines) {
    for (int i = 0; i < 250; ++i)
        ASSERT_TRUE(app->Poke("#velkor bob n" + std::to_string(i)));
    const auto lines = app->DisplayLines();
    ASSERT_EQ(lines.size(), 201u);
    EXPECT_EQ(lines.front(), "<bob> n49");
    EXPECT_EQ(lines.back(), "<bob> n249");
}

// The size dialogs: the entry read as an integer, 200 when it is not one; Cancel keeps.
TEST_F(WindowTest, BufferLinesDialogReadsIntegers) {
    struct Row {
        const char* entry;
        bool confirm;
        size_t keptAfter30; // lines kept after 30 more pokes (size + 1, or all)
    };
    const Row rows[] = {
        {" 5", true, 6}, {"$3", true, 4}, {"7", false, 4}, {"5 ", true, 30}, {"abc", true, 30},
    };
    std::string current = "200";
    for (const Row& row : rows) {
        Dialog(menuid::Bufferlines1, "Display Buffer Size", current, row.entry, row.confirm);
        app->Menu(menuid::Clearbuffer1);
        for (int i = 0; i < 30; ++i)
            ASSERT_TRUE(app->Poke("#velkor bob " + std::to_string(i)));
        EXPECT_EQ(app->DisplayLines().size(), row.keptAfter30) << row.entry;
        if (row.confirm)
            current = std::to_string(row.keptAfter30 == 30 ? 200 : row.keptAfter30 - 1);
    }
}

TEST_F(WindowTest, SettingsDialogsConfirmAndCancel) {
    Dialog(menuid::Setkey1, "Encryption Key", "Enter Key!", "", true);
    EXPECT_EQ(app->StatusText(1), kStartStatus) << "an empty key changes nothing";
    Dialog(menuid::Setkey1, "Encryption Key", "Enter Key!", "k2", false);
    EXPECT_EQ(app->StatusText(1), kStartStatus);
    Dialog(menuid::Channel1, "Monitoring Channel", "#velkor", "#elsewhere", true);
    EXPECT_EQ(app->StatusText(1),
              "Server: mirc   Channel: #elsewhere   Key: Enter Key!   Encryption: Off");
    Dialog(menuid::Commandbuffer1, "Command Buffer Size", "80", "$20", true);
    Dialog(menuid::Commandbuffer1, "Command Buffer Size", "32", "x", false);
    Dialog(menuid::ServerID1, "DDEServer Name", "mirc", "nothing", false);
    EXPECT_EQ(app->StatusText(1),
              "Server: mirc   Channel: #elsewhere   Key: Enter Key!   Encryption: Off");

    // The relink after ServerID (cancelled) still reaches the server under the old name.
    ASSERT_TRUE(app->Type("after relink"));
    ASSERT_TRUE(WaitFor([&] { return mirc->Count() == 1; }));
    EXPECT_EQ(mirc->Pokes()[0], "/msg #elsewhere after relink");
}

TEST_F(WindowTest, SelectionGoesToTheClipboardAndFocusBackToTheInputBox) {
    ASSERT_TRUE(app->Poke("#velkor bob copy me please"));
    ASSERT_TRUE(app->Poke("#velkor bob more"));
    SendMessageA(app->Display(), EM_SETSEL, 6, 13);
    ASSERT_TRUE(WaitFor([] { return ClipboardText() == "copy me"; })) << ClipboardText();
    // Appends move the selection too, but they must not overwrite the clipboard.
    ASSERT_TRUE(app->Poke("#velkor bob third"));
    EXPECT_EQ(ClipboardText(), "copy me");
}

TEST_F(WindowTest, AboutWindowsOpenAndCloseIndependently) {
    for (int i = 0; i < 3; ++i)
        app->Menu(menuid::About1);
    std::vector<HWND> abouts;
    ASSERT_TRUE(WaitFor([&] {
        abouts = FindTopWindows(app->ProcessId(), "Velkor About");
        return abouts.size() == 3;
    }));
    HWND remote = FindChild(abouts[0], "Button", "Copy Remote Command to Clipboard");
    ASSERT_TRUE(remote);
    PostMessageA(remote, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([] {
        return ClipboardText() == "1:ON TEXT:*:#:/dde velkor velkor \"\" $chan $nick $parms";
    })) << ClipboardText();
    EXPECT_TRUE(IsWindowVisible(abouts[0])) << "the About window stays open";

    PostMessageA(FindChild(abouts[1], "Button", "OK"), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(abouts[1]); })) << "freed on close";
    EXPECT_TRUE(IsWindow(abouts[0]));
    EXPECT_TRUE(IsWindow(abouts[2]));
    PostMessageA(abouts[0], WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(abouts[0]); }));
    EXPECT_TRUE(IsWindow(abouts[2]));
    // The chat window still works with an About window open.
    ASSERT_TRUE(app->Poke("#velkor bob still here"));
    EXPECT_EQ(app->DisplayLines(), std::vector<std::string>{"<bob> still here"});
}

TEST_F(WindowTest, SaveBufferWritesRtfWhateverTheExtension) {
    ASSERT_TRUE(app->Poke("#velkor bob saved line"));
    const std::string path = TempPath("window-test.txt");
    DeleteFileA(path.c_str());
    app->Menu(menuid::Savebuffer1);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        dialog = FindTopWindow(app->ProcessId(), "#32770", "Save As");
        return dialog != nullptr;
    }));
    // The file name field offers the channel name and ".log".
    HWND name = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (name = FindChild(dialog, "Edit", "#velkor.log")); }));
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
    std::string content;
    ASSERT_TRUE(WaitFor([&] {
        content = ReadWholeFile(path);
        return content.find("saved line") != std::string::npos;
    })) << content;
    EXPECT_EQ(content.rfind("{\\rtf", 0), 0u) << content;
    DeleteFileA(path.c_str());
}

// ---- The window as a person meets it: real keys and clicks (SendInput), one row a case ----

class PersonTest : public WindowTest {
  public:
    HWND Status() const { return app->StatusBar(); }
    HWND Splitter() const { return FindChild(app->Main(), "VelkorForm", ""); }
    RECT Rect(HWND hwnd) const { return RectIn(hwnd, app->Main()); }
    int Height(HWND hwnd) const {
        const RECT r = Rect(hwnd);
        return r.bottom - r.top;
    }
    RECT Panel0() const {
        RECT r{};
        app->SendWithData(Status(), SB_GETRECT, 0, &r, sizeof r);
        return r;
    }
    bool InputIs(const std::string& text) const {
        return WaitFor([&] { return app->InputText() == text; });
    }
    // The input box sits between splitter and status bar (or the window's bottom).
    void ExpectTightLayout() const {
        RECT client;
        GetClientRect(app->Main(), &client);
        const RECT input = Rect(app->InputBox());
        EXPECT_EQ(Rect(Splitter()).bottom, input.top);
        EXPECT_EQ(input.bottom, IsWindowVisible(Status()) ? Rect(Status()).top : client.bottom);
    }
    void ShowMain(int command) const {
        ShowWindow(app->Main(), command);
        ASSERT_TRUE(WaitFor([&] { return !IsIconic(app->Main()) == (command != SW_MINIMIZE); }));
        app->Sync();
    }
    void ResizeMain(int width, int height) const {
        SetWindowPos(app->Main(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
        app->Sync();
    }
    // Opens the display's pop-up menu with a right click; false if it does not show.
    bool OpenPopup() const {
        Click(app->Display(), {40, 10}, true);
        return WaitFor([&] { return app->MenuState(menuid::Clearbuffer2, true) != 0xFFFFFFFF; });
    }
    bool PopupChecked(int id) const { return app->MenuState(id, true) & MF_CHECKED; }
    bool MainChecked(int id) const { return app->MenuState(id, false) & MF_CHECKED; }
    // Lines of the display from the first one in view.
    std::string TopLine() const {
        const auto first = SendMessageA(app->Display(), EM_GETFIRSTVISIBLELINE, 0, 0);
        const auto lines = app->DisplayLines();
        return first < static_cast<LRESULT>(lines.size()) ? lines[first] : "";
    }
    bool NewestInView() const {
        const auto count = SendMessageA(app->Display(), EM_GETLINECOUNT, 0, 0);
        const auto start =
            SendMessageA(app->Display(), EM_LINEINDEX, count - 2, 0); // the last line
        RECT client;
        GetClientRect(app->Display(), &client);
        const POINT p = app->CharPosition(app->Display(), static_cast<int>(start));
        return p.y >= 0 && p.y < client.bottom;
    }
    // At `dpi`, a line of the input box's font shows whole, and panel 0's text for a line
    // of 99 characters fits in it (measured with the system's status-bar font for `dpi`).
    void ExpectTextFits(UINT dpi) const {
        app->SetInput("Hg\r\nHg");
        const POINT line1 = app->CharPosition(app->InputBox(), 0);
        const POINT line2 = app->CharPosition(app->InputBox(), 4);
        RECT box;
        GetClientRect(app->InputBox(), &box);
        EXPECT_GE(line1.y, 0);
        EXPECT_GT(line2.y, line1.y);
        EXPECT_LE(line2.y, box.bottom) << "the input box cuts its line of text";

        const std::string typed(99, 'x');
        app->SetInput(typed);
        SendMessageA(app->InputBox(), EM_SETSEL, 99, 99);
        app->Key(VK_END);
        ASSERT_EQ(app->StatusText(0), "\t99 : 99");
        NONCLIENTMETRICSA metrics{};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        HDC screen = GetDC(nullptr);
        metrics.lfStatusFont.lfHeight =
            MulDiv(metrics.lfStatusFont.lfHeight, dpi, GetDeviceCaps(screen, LOGPIXELSY));
        HFONT font = CreateFontIndirectA(&metrics.lfStatusFont);
        HGDIOBJ old = SelectObject(screen, font);
        SIZE text{};
        GetTextExtentPoint32A(screen, "99 : 99", 7, &text);
        SelectObject(screen, old);
        DeleteObject(font);
        ReleaseDC(nullptr, screen);
        const RECT panel = Panel0();
        EXPECT_LE(text.cx + MulDiv(6, dpi, 96), panel.right - panel.left)
            << "panel 0 cuts its text";
        EXPECT_LE(text.cy, panel.bottom - panel.top);
    }
    // The input box shows a whole text line of its font, the display at least three.
    void ExpectRoomForText() const {
        app->SetInput("Hg\r\nHg");
        const int top = app->CharPosition(app->InputBox(), 0).y;
        const int line = app->CharPosition(app->InputBox(), 4).y - top;
        app->SetInput("");
        RECT input, display;
        GetClientRect(app->InputBox(), &input);
        EXPECT_TRUE(line > 0 && top >= 0 && top + line <= input.bottom) << "input cuts its line";
        GetClientRect(app->Display(), &display);
        EXPECT_GE(display.bottom, 3 * line) << "the display shows fewer than 3 lines";
    }
    void DragSplitter(int dy) const {
        const RECT bar = Rect(Splitter()); // the bar spans the window: left is 0
        const int x = bar.right / 2, y = (bar.bottom - bar.top) / 2;
        Drag(Splitter(), {x, y}, {x, y + dy});
        app->Sync();
    }
    // The length of the display's scroll-bar thumb as drawn (the rows of the bar's middle
    // column that differ from the track under the upper arrow) when it reaches the lower
    // arrow; 0 when it does not, or when none is drawn.
    int ThumbAtBottom() const {
        RECT client;
        GetClientRect(app->Display(), &client);
        const int arrow = GetSystemMetrics(SM_CYVSCROLL);
        POINT p{client.right + GetSystemMetrics(SM_CXVSCROLL) / 2, arrow + 1};
        ClientToScreen(app->Display(), &p);
        HDC screen = GetDC(nullptr);
        const COLORREF track = GetPixel(screen, p.x, p.y);
        std::pair<int, int> thumb{0, 0};
        for (int y = 0; y < client.bottom - 2 * arrow - 1; ++y)
            if (GetPixel(screen, p.x, p.y + y) != track)
                thumb = {thumb.second ? thumb.first : y, y + 1};
        ReleaseDC(nullptr, screen);
        return thumb.second >= client.bottom - 2 * arrow - 4 ? thumb.second - thumb.first : 0;
    }
    // A click on the display's vertical scroll bar, near its top or its bottom end.
    void ClickScrollBar(bool up) const {
        RECT client;
        GetClientRect(app->Display(), &client);
        const int arrow = GetSystemMetrics(SM_CYVSCROLL);
        Click(app->Display(), {client.right + GetSystemMetrics(SM_CXVSCROLL) / 2,
                               up ? arrow + 4 : client.bottom - arrow - 4});
    }
};

struct PersonCase {
    const char* name;
    void (*play)(PersonTest& t, Velkor& app, CommandServer& mirc);
    friend void PrintTo(const PersonCase& c, std::ostream* os) { *os << c.name; }
};

const PersonCase kPersonCases[] = {
    {"EnterSendsWhileTheFocusStaysInTheInputBox",
     [](PersonTest& t, Velkor& app, CommandServer& mirc) {
         ASSERT_TRUE(app.Activate());
         TypeKeys("hello");
         PressKey(VK_RETURN);
         ASSERT_TRUE(WaitFor([&] { return mirc.Count() == 1; }));
         EXPECT_EQ(mirc.Pokes()[0], "/msg #velkor hello");
         EXPECT_TRUE(WaitFor([&] { return app.StatusText(0) == "\t0 : 0"; })) << app.StatusText(0);
         EXPECT_EQ(app.Focus(), app.InputBox());
         // Space goes into the box, never to the Send button; the next line is not lost.
         TypeKeys(" again");
         EXPECT_TRUE(t.InputIs(" again")) << app.InputText();
         EXPECT_EQ(mirc.Count(), 1u) << "Space pressed Send";
         PressKey(VK_UP);
         EXPECT_TRUE(t.InputIs("hello")) << "Up recalls the line sent";
     }},
    {"APasteGoesOutLineByLineEncipheredAfterOneQuestion",
     [](PersonTest& t, Velkor& app, CommandServer& mirc) {
         ASSERT_TRUE(app.SetKey("sesame") && app.Encryption(true));
         const std::string secret = "the secret plan is at noon";
         SetClipboardText("/me is here\r\n\r\n" + secret);
         ASSERT_TRUE(app.Activate());
         PressKey('V', {VK_CONTROL});
         for (const WORD answer : {VK_ESCAPE, VK_RETURN}) { // Escape keeps the paste to edit
             EXPECT_EQ(mirc.Count(), 0u);
             ASSERT_TRUE(t.InputIs("/me is here\r\n\r\n" + secret)) << app.InputText();
             PressKey(VK_RETURN);
             ASSERT_TRUE(WaitFor([&] { return app.MessageBoxText() == "Send 2 lines?"; }));
             PressKey(answer);
             ASSERT_TRUE(WaitFor([&] { return !app.MessageBoxWindow(); }));
         }
         ASSERT_TRUE(WaitFor([&] { return mirc.Count() == 2; })) << mirc.Count();
         const auto pokes = mirc.Pokes();
         EXPECT_EQ(pokes[0], "/me is here") << "a command of its own";
         EXPECT_EQ(Decrypt(pokes[1].substr(13), "sesame"), secret);
         for (const std::string& poke : pokes)
             EXPECT_FALSE(poke.find("secret") != poke.npos ||
                          poke.find_first_of("\r\n") != poke.npos)
                 << poke;
         EXPECT_EQ(app.DisplayLines(), (std::vector<std::string>{"/me is here", secret}));
     }},
    {"ASecondVelkorSaysSoAndTheFirstKeepsTheLines",
     [](PersonTest&, Velkor& app, CommandServer&) {
         ShowWindow(app.Main(), SW_MINIMIZE); // brought forward means restored too
         Process second(VelkorExe());
         HWND box = nullptr;
         ASSERT_TRUE(WaitFor([&] { return box = FindTopWindow(second.Id(), "#32770", "velkor"); }));
         EXPECT_EQ(WindowText(GetDlgItem(box, 0xFFFF)).rfind("velkor is already running", 0), 0u);
         ASSERT_TRUE(app.Poke("#velkor bob while it asks"));
         SetForegroundWindow(box);
         PressKey(VK_RETURN);
         ASSERT_EQ(second.WaitExit(10000), 0u);
         EXPECT_TRUE(WaitFor([&] { return GetForegroundWindow() == app.Main(); }));
         ASSERT_TRUE(app.Poke("#velkor bob after it went"));
         EXPECT_EQ(app.DisplayLines(),
                   (std::vector<std::string>{"<bob> while it asks", "<bob> after it went"}));
         const std::string copy = TempPath("velkor-copy.exe"); // another name: another service
         ASSERT_TRUE(CopyFileA(VelkorExe().c_str(), copy.c_str(), FALSE));
         Velkor{copy}; // throws when its window does not come
         DeleteFileA(copy.c_str());
     }},
    {"TabTypesNothingAndTheFocusStays",
     [](PersonTest& t, Velkor& app, CommandServer&) {
         ASSERT_TRUE(app.Activate());
         TypeKeys("a");
         PressKey(VK_TAB);
         PressKey(VK_TAB, {VK_SHIFT});
         TypeKeys("b");
         EXPECT_TRUE(t.InputIs("ab")) << app.InputText();
         EXPECT_EQ(app.Focus(), app.InputBox());
     }},
    {"MinimiseAndRestoreKeepTheInputHeight",
     [](PersonTest& t, Velkor& app, CommandServer&) {
         EXPECT_EQ(t.Height(app.InputBox()), 24);
         t.ShowMain(SW_MINIMIZE);
         t.ShowMain(SW_RESTORE);
         EXPECT_EQ(t.Height(app.InputBox()), 24);
         t.ExpectTightLayout();
     }},
    {"OnlyTheSplitterChangesTheInputHeight",
     [](PersonTest& t, Velkor& app, CommandServer&) {
         const RECT bar = t.Rect(t.Splitter());
         const int x = (bar.right - bar.left) / 2, y = (bar.bottom - bar.top) / 2;
         Drag(t.Splitter(), {x, y}, {x, y - 40}); // up: the box grows
         ASSERT_TRUE(WaitFor([&] { return t.Height(app.InputBox()) == 64; }))
             << t.Height(app.InputBox());
         t.ExpectTightLayout();
         RECT window;
         GetWindowRect(app.Main(), &window);
         const int w = window.right - window.left, h = window.bottom - window.top;
         t.ResizeMain(w, 40); // far too small: the window keeps room for a line of input
         EXPECT_LT(t.Height(app.InputBox()), 64);
         t.ExpectRoomForText();
         t.ExpectTightLayout();
         t.ResizeMain(w, h);
         EXPECT_EQ(t.Height(app.InputBox()), 64) << "regrown";
         t.ShowMain(SW_MINIMIZE);
         t.ShowMain(SW_RESTORE);
         EXPECT_EQ(t.Height(app.InputBox()), 64) << "restored";
         t.ExpectTightLayout();
     }},
    {"TheSplitterKeepsALineOfInputAndTheDisplaysLines",
     [](PersonTest& t, Velkor& app, CommandServer&) {
         ASSERT_TRUE(app.Activate());
         for (const int dy : {25, 400, -2000, 3000}) { // down past the box, to either end
             t.DragSplitter(dy);
             t.ExpectRoomForText();
             t.ExpectTightLayout();
         }
         TypeKeys("seen");
         EXPECT_TRUE(t.InputIs("seen")) << app.InputText();
     }},
    {"PageKeysInTheInputBoxScrollTheDisplay",
     [](PersonTest& t, Velkor& app, CommandServer&) {
         for (int i = 0; i < 60; ++i)
             ASSERT_TRUE(app.Poke("#velkor bob n" + std::to_string(i)));
         ASSERT_TRUE(app.Activate());
         const auto first = [&] {
             return SendMessageA(app.Display(), EM_GETFIRSTVISIBLELINE, 0, 0);
         };
         const auto bottom = first();
         PressKey(VK_PRIOR);
         EXPECT_TRUE(WaitFor([&] { return first() < bottom; })) << "PgUp";
         PressKey(VK_HOME, {VK_CONTROL});
         EXPECT_TRUE(WaitFor([&] { return first() == 0; })) << "Ctrl+Home";
         PressKey(VK_NEXT);
         EXPECT_TRUE(WaitFor([&] { return first() > 0; })) << "PgDn";
         PressKey(VK_END, {VK_CONTROL});
         EXPECT_TRUE(WaitFor([&] { return t.NewestInView(); })) << "Ctrl+End";
     }},
    {"AClickThatSelectsNothingReturnsTheFocusAndKeepsTheClipboard",
     [](PersonTest& t, Velkor& app, CommandServer&) {
         ASSERT_TRUE(app.Poke("#velkor bob first"));
         ASSERT_TRUE(app.Poke("#velkor bob second"));
         ASSERT_TRUE(app.Activate());
         SetClipboardText("copied in another program");
         RECT client;
         GetClientRect(app.Display(), &client);
         Click(app.Display(), {client.right / 2, client.bottom - 10}); // below the last line
         TypeKeys("q");
         EXPECT_TRUE(t.InputIs("q")) << app.InputText();
         const POINT word = app.CharPosition(app.Display(), 2);
         Click(app.Display(), {word.x + 2, word.y + 4}); // on a line's text
         TypeKeys("r");
         EXPECT_TRUE(t.InputIs("qr")) << app.InputText();
         EXPECT_EQ(app.Focus(), app.InputBox());
         EXPECT_EQ(ClipboardText(), "copied in another program");
     }},
    {"DraggedLinesReachTheClipboardWithCrLf",
     [](PersonTest& t, Velkor& app, CommandServer&) {
         for (const char* line : {"#velkor bob one", "#velkor bob two", "#velkor bob three"})
             ASSERT_TRUE(app.Poke(line));
         ASSERT_TRUE(app.Activate());
         const auto third = SendMessageA(app.Display(), EM_LINEINDEX, 2, 0);
         const POINT from = app.CharPosition(app.Display(), 0);
         const POINT to = app.CharPosition(app.Display(), static_cast<int>(third));
         Drag(app.Display(), {from.x + 2, from.y + 4}, {to.x + 2, to.y + 4});
         EXPECT_TRUE(WaitFor([] { return ClipboardText() == "<bob> one\r\n<bob> two\r\n"; }))
             << ClipboardText();
         TypeKeys("q");
         EXPECT_TRUE(t.InputIs("q")) << "typing goes on in the input box";
     }},
    {"AboutWindowTakesEnterEscapeAndTab",
     [](PersonTest&, Velkor& app, CommandServer&) {
         ASSERT_TRUE(app.Activate());
         HWND about = nullptr, ok = nullptr, remote = nullptr;
         auto open = [&] {
             PressKey('H', {VK_MENU}); // Help, About...
             PressKey('A');
             ASSERT_TRUE(WaitFor([&] {
                 const auto found = FindTopWindows(app.ProcessId(), "Velkor About");
                 about = found.empty() ? nullptr : found.front();
                 return about != nullptr;
             }));
             ok = FindChild(about, "Button", "OK");
             remote = FindChild(about, "Button", "Copy Remote Command to Clipboard");
             ASSERT_TRUE(WaitFor([&] { return app.Focus() == ok; })) << "OK has the focus";
         };
         open();
         PressKey(VK_RETURN);
         EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); })) << "Enter is OK";
         open();
         PressKey(VK_TAB);
         EXPECT_TRUE(WaitFor([&] { return app.Focus() == remote; }));
         PressKey(VK_TAB, {VK_SHIFT});
         EXPECT_TRUE(WaitFor([&] { return app.Focus() == ok; }));
         PressKey(VK_TAB);
         ASSERT_TRUE(WaitFor([&] { return app.Focus() == remote; }));
         SetClipboardText("");
         PressKey(VK_RETURN); // presses the focused button, as in a dialog box
         EXPECT_TRUE(WaitFor([] {
             return ClipboardText() == "1:ON TEXT:*:#:/dde velkor velkor \"\" $chan $nick $parms";
         }));
         EXPECT_TRUE(IsWindowVisible(about));
         PressKey(VK_ESCAPE);
         EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); })) << "Escape closes";
         EXPECT_TRUE(WaitFor([&] { return app.Focus() == app.InputBox(); }));
     }},
    {"ScrolledBackTheViewStaysWhileLinesArrive",
     [](PersonTest& t, Velkor& app, CommandServer&) {
         for (int i = 0; i < 205; ++i) // the display holds 201: each new line trims one
             ASSERT_TRUE(app.Poke("#velkor bob n" + std::to_string(i)));
         ASSERT_TRUE(app.Activate());
         ASSERT_TRUE(t.NewestInView());
         for (int i = 0; i < 3; ++i)
             t.ClickScrollBar(true);
         ASSERT_TRUE(WaitFor([&] { return !t.NewestInView(); }));
         EXPECT_EQ(app.Focus(), app.InputBox()) << "the scroll bar took the focus";
         const std::string top = t.TopLine();
         for (int i = 205; i < 215; ++i)
             ASSERT_TRUE(app.Poke("#velkor bob n" + std::to_string(i)));
         EXPECT_EQ(t.TopLine(), top) << "the view stays on the lines being read";
         EXPECT_EQ(app.DisplayLines().size(), 201u);
         for (int i = 0; i < 40 && !t.NewestInView(); ++i) {
             t.ClickScrollBar(false);
             WaitFor([&] { return t.NewestInView(); }, std::chrono::milliseconds(200));
         }
         ASSERT_TRUE(t.NewestInView());
         for (int i = 0; i < 30; ++i) // faster than the display repaints
             ASSERT_TRUE(app.Poke("#velkor bob burst " + std::to_string(i)));
         EXPECT_TRUE(WaitFor([&] { return t.NewestInView(); })) << "at the bottom the view follows";
         EXPECT_EQ(app.DisplayLines().back(), "<bob> burst 29");
     }},
    {"TheScrollBarThumbFollowsAppends",
     [](PersonTest& t, Velkor& app, CommandServer&) {
         ASSERT_TRUE(app.Activate());
         int at60 = 0, n = 0;            // the thumb's length at 60 lines, and now
         for (int i = 0; i < 200; ++i) { // batches faster than the repaint timer
             ASSERT_TRUE(app.Poke("#velkor bob n" + std::to_string(i)));
             if (i != 59 && i != 199) continue;
             const int most = i == 59 ? INT_MAX : at60 * 2 / 3; // shorter, not a stale one
             EXPECT_TRUE(WaitFor([&] { return (n = t.ThumbAtBottom()) > 0 && n < most; })) << n;
             at60 = i == 59 ? n : at60;
         }
     }},
    {"CheckMarksShowTheSameStateInBothMenus",
     [](PersonTest& t, Velkor& app, CommandServer&) {
         using namespace menuid;
         ASSERT_TRUE(app.Activate());
         ASSERT_TRUE(t.OpenPopup());
         EXPECT_FALSE(t.PopupChecked(On2));
         for (WORD key :
              {VK_DOWN, VK_DOWN, VK_DOWN, VK_RIGHT, VK_DOWN, VK_RETURN}) // Encryption, On
             PressKey(key);
         ASSERT_TRUE(WaitFor([&] { return app.StatusText(1).ends_with("Encryption: On"); }));
         EXPECT_TRUE(t.MainChecked(On1));
         ASSERT_TRUE(t.OpenPopup());
         EXPECT_TRUE(t.PopupChecked(On2));
         for (WORD key : {VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_RIGHT, VK_DOWN, VK_DOWN,
                          VK_DOWN, VK_RETURN}) // Options, Hide statusbar
             PressKey(key);
         ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(t.Status()); }));
         EXPECT_TRUE(t.MainChecked(HideStatusBar1));
         t.ExpectTightLayout();
         ASSERT_TRUE(t.OpenPopup());
         EXPECT_FALSE(t.PopupChecked(Hidestatusbar2)) << "the pop-up item never shows a mark";
         PressKey(VK_ESCAPE);
         PressKey('O', {VK_MENU}); // Options, Hide StatusBar: shown again
         PressKey('H');
         ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(t.Status()); }));
         EXPECT_FALSE(t.MainChecked(HideStatusBar1));
         t.ExpectTightLayout();
     }},
    {"FixedSizesFollowTheDpi",
     [](PersonTest& t, Velkor& app, CommandServer&) {
         struct Sizes {
             int input, panel0, bar;
         };
         auto sizes = [&] {
             const RECT p = t.Panel0();
             return Sizes{t.Height(app.InputBox()), p.right - p.left, t.Height(t.Splitter())};
         };
         const Sizes at96 = sizes();
         EXPECT_EQ(at96.input, 24);
         EXPECT_EQ(at96.bar, 4);
         const int statusAt96 = t.Height(t.Status());
         // What the system sends when the window moves to a monitor of another DPI.
         auto moveTo = [&](int dpi) {
             RECT r;
             GetWindowRect(app.Main(), &r);
             app.SendWithData(app.Main(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), &r, sizeof r);
         };
         moveTo(192);
         const Sizes at192 = sizes();
         EXPECT_EQ(at192.input, 48);
         EXPECT_EQ(at192.panel0, 2 * at96.panel0);
         EXPECT_EQ(at192.bar, 8);
         EXPECT_GT(t.Height(t.Status()), statusAt96) << "the status font grew";
         t.ExpectTightLayout();
         t.ExpectTextFits(192);
         moveTo(96);
         const Sizes back = sizes();
         EXPECT_EQ(back.input, 24);
         EXPECT_EQ(back.panel0, at96.panel0);
         EXPECT_EQ(back.bar, 4);
         t.ExpectTextFits(96);
     }},
};

class AsAPerson : public PersonTest, public ::testing::WithParamInterface<PersonCase> {};

TEST_P(AsAPerson, Case) {
    GetParam().play(*this, *app, *mirc);
}

INSTANTIATE_TEST_SUITE_P(Window, AsAPerson, ::testing::ValuesIn(kPersonCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A window's picture as the screen shows it, as a 24-bit BMP file.
void SaveScreenshot(HWND hwnd, const std::string& path) {
    RECT r;
    GetWindowRect(hwnd, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    std::vector<char> pixels(static_cast<size_t>((w * 3 + 3) & ~3) * h);
    GetDIBits(memory, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
}

// In a prefix whose LogPixels is 192 (tests/window/test_dpi192.sh): the window is built for it
// from the start. Its picture goes to the test's folder as window-192dpi.bmp.
class At192Dpi : public PersonTest {
  protected:
    void SetUp() override {
        HDC screen = GetDC(nullptr);
        const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        if (dpi != 192) GTEST_SKIP() << "runs in the 192-dpi prefix of test_window_dpi";
        PersonTest::SetUp();
    }
};

TEST_F(At192Dpi, TheInputBoxAndPanel0FitTheirText) {
    EXPECT_EQ(Height(app->InputBox()), 48);
    EXPECT_EQ(Height(Splitter()), 8);
    ExpectTightLayout();
    ExpectTextFits(192);

    ASSERT_TRUE(app->Poke("#velkor alice the text is sharp at 192 dpi"));
    ASSERT_TRUE(app->Type("and the input box holds a whole line"));
    app->SetInput("typing on");
    SendMessageA(app->InputBox(), EM_SETSEL, 9, 9);
    app->Key(VK_END);
    RedrawWindow(app->Main(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300); // the repaint timer of the display
    SaveScreenshot(app->Main(), "window-192dpi.bmp");
}

} // namespace

int main(int argc, char** argv) {
    // Sizes read from the program are its real pixels, whatever the DPI.
    SetProcessDPIAware();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
