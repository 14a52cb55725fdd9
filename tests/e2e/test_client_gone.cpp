// The IRC client's DDE server dies without saying goodbye (killed, crashed): the chat
// window stays usable, and "Manual connect" after the client is back restores sending.
#include "window_driver.h"

#include "Menuids.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace velkor;

namespace {

std::string Windows(std::string path) {
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// ddesink serving "mirc|command", every poke written to a file.
class CommandSink {
public:
    explicit CommandSink(const std::string& out) : out_(out) {
        DeleteFileA(out_.c_str());
        std::string command = "\"" + Windows(DDESINK_EXE) + "\" --service mirc --topic command --out \"" +
                              out_ + "\" --seconds 120";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &si, &info_))
            throw std::runtime_error("cannot start ddesink");
        DWORD instance = 0;
        DdeInitializeA(&instance, [](UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                     ULONG_PTR) -> HDDEDATA { return nullptr; },
                       APPCMD_CLIENTONLY, 0);
        HSZ service = DdeCreateStringHandleA(instance, "mirc", CP_WINANSI);
        HSZ topic = DdeCreateStringHandleA(instance, "command", CP_WINANSI);
        up_ = WaitFor([&] {
            HCONV conv = DdeConnect(instance, service, topic, nullptr);
            if (conv)
                DdeDisconnect(conv);
            return conv != nullptr;
        }, std::chrono::milliseconds(20000));
        DdeFreeStringHandle(instance, service);
        DdeFreeStringHandle(instance, topic);
        DdeUninitialize(instance);
    }
    ~CommandSink() {
        Kill();
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    CommandSink(const CommandSink&) = delete;
    CommandSink& operator=(const CommandSink&) = delete;

    bool Up() const { return up_; }
    // Ends the process at once: no DDE goodbye, as when the client is killed or crashes.
    void Kill() {
        TerminateProcess(info_.hProcess, 9);
        WaitForSingleObject(info_.hProcess, 10000);
    }
    std::string Received() const {
        std::ifstream in(out_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string out_;
    PROCESS_INFORMATION info_{};
    bool up_ = false;
};

std::string TempFile(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
}

TEST(IrcClientGone, WindowStaysUsableAndManualConnectRestoresSending) {
    auto first = std::make_unique<CommandSink>(TempFile("velkor-sink-1.txt"));
    ASSERT_TRUE(first->Up());
    Velkor app;
    ASSERT_TRUE(app.Type("before"));
    ASSERT_TRUE(WaitFor([&] { return first->Received().find("text=/msg #velkor before\n") != std::string::npos; }));

    first->Kill();
    // Lines typed meanwhile are echoed and leave the input box; they reach nobody.
    ASSERT_TRUE(app.Type("while away"));
    ASSERT_TRUE(app.Type("still away"));
    EXPECT_EQ(app.DisplayLines(), (std::vector<std::string>{"before", "while away", "still away"}));
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutA(app.Main(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));

    CommandSink second(TempFile("velkor-sink-2.txt"));
    ASSERT_TRUE(second.Up());
    app.Menu(menuid::Manualconnect1);
    SendMessageA(app.Main(), WM_NULL, 0, 0); // the posted command has been handled
    ASSERT_TRUE(app.Type("back again"));
    EXPECT_TRUE(WaitFor([&] { return second.Received().find("text=/msg #velkor back again\n") != std::string::npos; }))
        << "received: " << second.Received();
    EXPECT_EQ(second.Received().find("away"), std::string::npos);
}

} // namespace
