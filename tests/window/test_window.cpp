// The chat window driven from another process under Wine: start-up, sending, receiving,
// history, display trim, settings dialogs, selection to clipboard, About windows.
#include "window_driver.h"

#include "Ideaunit.h"
#include "Linecodec.h"
#include "Menuids.h"

#include <gtest/gtest.h>

#include <memory>

using namespace velkor;

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
        mirc = std::make_unique<MircServer>();
        app = std::make_unique<Velkor>();
    }
    void TearDown() override {
        app.reset();
        mirc.reset();
    }

    // Opens a settings dialog by its menu command, checks the field, enters `entry` and
    // confirms (or cancels); waits until the dialog is gone.
    void Dialog(int menuId, const char* caption, const std::string& startValue,
                const std::string& entry, bool confirm) {
        app->Menu(menuId);
        HWND dialog = nullptr;
        ASSERT_TRUE(WaitFor([&] {
            dialog = FindTopWindow(app->ProcessId(), "#32770", caption);
            return dialog != nullptr;
        })) << caption;
        HWND field = GetDlgItem(dialog, 100);
        ASSERT_TRUE(field);
        EXPECT_EQ(WindowText(field), startValue) << caption;
        const LRESULT sel = SendMessageA(field, EM_GETSEL, 0, 0);
        EXPECT_EQ(LOWORD(sel), 0);
        EXPECT_EQ(HIWORD(sel), startValue.size()) << "start value fully selected";
        EXPECT_EQ(SendMessageA(field, EM_GETLIMITTEXT, 0, 0), 255);
        SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(entry.c_str()));
        PostMessageA(GetDlgItem(dialog, confirm ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
        // The handler's last step (the status line) has run once the window answers.
        SendMessageA(app->Main(), WM_NULL, 0, 0);
    }

    std::unique_ptr<MircServer> mirc;
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
    SendMessageA(app->InputBox(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("hello"));
    SendMessageA(app->InputBox(), EM_SETSEL, 5, 5);
    app->Key(VK_END);
    EXPECT_EQ(app->StatusText(0), "\t5 : 5");
}

TEST_F(WindowTest, EncryptedLineGoesOutAsWireTextUnderTheKey) {
    Dialog(menuid::Setkey1, "Encryption Key", "Enter Key!", "sesame", true);
    app->Menu(menuid::On1);
    ASSERT_TRUE(WaitFor([&] { return app->StatusText(1).ends_with("Encryption: On"); }));
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
    HWND box = FindTopWindow(app->ProcessId(), "#32770", "velkor");
    ASSERT_TRUE(box);
    EXPECT_TRUE(FindChild(box, "Static", "Your message exceeds IRC limits, please restate"));
    HWND ok = FindChild(box, "Button", "OK");
    ASSERT_TRUE(ok);
    PostMessageA(ok, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }));
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
    app->Menu(menuid::On1);
    ASSERT_TRUE(WaitFor([&] { return app->StatusText(1).ends_with("Encryption: On"); }));
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
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "velkor-window-test.txt";
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
        HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE)
            return false;
        char buffer[4096];
        DWORD n = 0;
        ReadFile(f, buffer, sizeof buffer, &n, nullptr);
        CloseHandle(f);
        content.assign(buffer, n);
        return content.find("saved line") != std::string::npos;
    })) << content;
    EXPECT_EQ(content.rfind("{\\rtf", 0), 0u) << content;
    DeleteFileA(path.c_str());
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
