// The IRC client's DDE server dies without saying goodbye (killed, crashed): the chat
// window stays usable, and "Manual connect" after the client is back restores sending.
#include "app/Menuids.h"
#include "harness/kit/DdeServers.h"
#include "harness/kit/Pump.h"
#include "harness/kit/Velkor.h"

#include <gtest/gtest.h>

#include <memory>

using namespace velkor;
using namespace velkor::kit;

namespace {

TEST(IrcClientGone, WindowStaysUsableAndManualConnectRestoresSending) {
    auto first = std::make_unique<DdeSinkProcess>(DDESINK_EXE, "mirc", TempPath("sink-1.txt"));
    ASSERT_TRUE(first->Up());
    Velkor app;
    ASSERT_TRUE(app.Type("before"));
    ASSERT_TRUE(WaitFor(
        [&] { return first->Received().find("text=/msg #velkor before\n") != std::string::npos; }));

    first->Kill();
    // Lines typed meanwhile are echoed and leave the input box; they reach nobody, and
    // their echoes say so.
    ASSERT_TRUE(app.Type("while away"));
    ASSERT_TRUE(app.Type("still away"));
    EXPECT_EQ(app.DisplayLines(),
              (std::vector<std::string>{"before", "[NOT SENT: no link to mIRC] while away",
                                        "[NOT SENT: no link to mIRC] still away"}));
    EXPECT_EQ(app.StatusText(2), "DDE: not linked");
    EXPECT_TRUE(app.Alive());

    DdeSinkProcess second(DDESINK_EXE, "mirc", TempPath("sink-2.txt"));
    ASSERT_TRUE(second.Up());
    app.Command(menuid::Manualconnect1);
    ASSERT_TRUE(app.Type("back again"));
    EXPECT_TRUE(WaitFor([&] {
        return second.Received().find("text=/msg #velkor back again\n") != std::string::npos;
    })) << "received: "
        << second.Received();
    EXPECT_EQ(second.Received().find("away"), std::string::npos);
}

} // namespace
