// The IRC client's DDE server dies without saying goodbye (killed, crashed): the chat
// window stays usable, and "Manual connect" after the client is back restores sending.
#include "tests/hostile/hostile_dde.h"
#include "tests/window/window_driver.h"

#include "app/Menuids.h"

#include <gtest/gtest.h>

#include <memory>

using namespace velkor;

namespace {

std::string TempFile(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
}

TEST(IrcClientGone, WindowStaysUsableAndManualConnectRestoresSending) {
    auto first =
        std::make_unique<DdeSinkProcess>(DDESINK_EXE, "mirc", TempFile("velkor-sink-1.txt"));
    ASSERT_TRUE(first->Up());
    Velkor app;
    ASSERT_TRUE(app.Type("before"));
    ASSERT_TRUE(WaitFor(
        [&] { return first->Received().find("text=/msg #velkor before\n") != std::string::npos; }));

    first->Kill();
    // Lines typed meanwhile are echoed and leave the input box; they reach nobody.
    ASSERT_TRUE(app.Type("while away"));
    ASSERT_TRUE(app.Type("still away"));
    EXPECT_EQ(app.DisplayLines(), (std::vector<std::string>{"before", "while away", "still away"}));
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutA(app.Main(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));

    DdeSinkProcess second(DDESINK_EXE, "mirc", TempFile("velkor-sink-2.txt"));
    ASSERT_TRUE(second.Up());
    app.Menu(menuid::Manualconnect1);
    SendMessageA(app.Main(), WM_NULL, 0, 0); // the posted command has been handled
    ASSERT_TRUE(app.Type("back again"));
    EXPECT_TRUE(WaitFor([&] {
        return second.Received().find("text=/msg #velkor back again\n") != std::string::npos;
    })) << "received: "
        << second.Received();
    EXPECT_EQ(second.Received().find("away"), std::string::npos);
}

} // namespace
