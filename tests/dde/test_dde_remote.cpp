// The DDE unit across processes: a copy of dde_server_app named velkor.exe serves the form
// "velkor" with its item NONE, as the program does for mIRC; this process is the client,
// through DDEML, through raw WM_DDE_* messages, and through TDdeClientConv.
#include "dde/MyDdeman.h"
#include "harness/kit/DdeClients.h"
#include "harness/kit/Pump.h"
#include "tests/dde/dde_test_util.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace velkor;
using namespace velkor::kit;
using namespace std::string_literals;

namespace {

// The helper under the program's file name, serving once its form exists.
struct VelkorServer {
    explicit VelkorServer(const std::string& fileName = "velkor.exe", const std::string& mode = "")
        : process(CopyServerApp(fileName), mode) {}
    bool Ready() { return process.Started() && process.WaitEvent("form"); }

    HelperProcess process;
};

std::string Value(DdemlClient& client, const std::string& item) {
    return client.Request(item).value_or("<refused>");
}

// Keeps the text of a child window that starts with "Exception" in *found.
BOOL CALLBACK FindExceptionText(HWND child, LPARAM found) {
    char text[512] = "";
    GetWindowTextA(child, text, sizeof text);
    if (std::string(text).rfind("Exception", 0) == 0) *reinterpret_cast<std::string*>(found) = text;
    return TRUE;
}

int CountLines(const std::string& path) {
    std::ifstream file(path);
    int lines = 0;
    for (std::string line; std::getline(file, line);)
        ++lines;
    return lines;
}

} // namespace

TEST(RemoteServer, ConnectRefusedBeforeTheWindowExists) {
    VelkorServer server("velkor.exe", "wait");
    ASSERT_TRUE(server.process.WaitEvent("mgr")); // its service name is registered now
    DdemlClient client;
    EXPECT_FALSE(client.Connect("velkor", "velkor"));
    server.process.Signal("go");
    ASSERT_TRUE(server.Ready());
    EXPECT_TRUE(client.Connect("velkor", "velkor"));
}

TEST(RemoteServer, ServiceAndTopicMatchWithoutRegardToCase) {
    VelkorServer server;
    ASSERT_TRUE(server.Ready());
    DdemlClient client;
    const struct {
        const char* service;
        const char* topic;
        bool accepted;
    } cases[] = {
        {"velkor", "velkor", true}, {"VELKOR", "Velkor", true}, {"Velkor", "VELKOR", true},
        {"velkor", "other", false}, {"other", "velkor", false}, {"velkor.exe", "velkor", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bool(client.Connect(c.service, c.topic)), c.accepted)
            << c.service << "|" << c.topic;
}

// mIRC's "/dde velkor velkor "" ..." pokes with an empty item name: DDEML cannot send that,
// raw messages can. It must reach NONE like a poke to "NONE" does.
TEST(RemoteServer, EmptyItemAndNONEReachNONE) {
    VelkorServer server;
    ASSERT_TRUE(server.Ready());
    RawDdeClient raw;
    ASSERT_TRUE(raw.Initiate("velkor", "velkor"));
    DdemlClient client;
    ASSERT_TRUE(client.Connect("velkor", "velkor"));

    EXPECT_EQ(AckStatus(raw.Poke("", "#velkor alice 0AbCd\0"s)), WORD(0x8000));
    EXPECT_EQ(Value(client, "NONE"), "#velkor alice 0AbCd\r\n\0"s);
    EXPECT_EQ(AckStatus(raw.Poke("NONE", "raw to NONE\0"s)), WORD(0x8000));
    EXPECT_EQ(Value(client, "Text"), "raw to NONE\r\n\0"s);
    EXPECT_TRUE(client.Poke("NONE", "ddeml to NONE\0"s).Acked());
    EXPECT_EQ(Value(client, "Text"), "ddeml to NONE\r\n\0"s);
    EXPECT_EQ(Value(client, "Pokes"), "3\r\n\0"s);
    EXPECT_EQ(Value(client, "Changes"), "3\r\n\0"s);
}

// Item names are matched exactly, but they travel as atoms: case-insensitive, and the
// first spelling registered wins. Measured under Wine: item atoms sent to a DDEML server
// outlive the conversation, so once "none" has been poked, every later poke to "NONE" in
// that wineserver arrives as "none" and is refused (and while "NONE" is held, "none"
// arrives as "NONE" and is taken). So no test here pokes "none": the exact match is shown
// with an item whose name is new to the atom table, poked in lower case.
TEST(RemoteServer, ItemNamesMatchExactly) {
    VelkorServer server;
    ASSERT_TRUE(server.Ready());
    RawDdeClient raw;
    ASSERT_TRUE(raw.Initiate("velkor", "velkor"));
    DdemlClient client;
    ASSERT_TRUE(client.Connect("velkor", "velkor"));

    const std::string probe = "Probe" + server.process.Tag();
    std::string lower = probe;
    lower[0] = 'p';
    ASSERT_EQ(GlobalFindAtomA(probe.c_str()), 0);
    EXPECT_EQ(AckStatus(raw.Poke(lower, "lower case\0"s)), WORD(0));
    EXPECT_EQ(Value(client, probe), "\0"s); // still empty
    EXPECT_EQ(Value(client, "Pokes"), "\0"s);
}

TEST(RemoteServer, EmptyItemRequestAndAdviseAreNotProcessed) {
    VelkorServer server;
    ASSERT_TRUE(server.Ready());
    RawDdeClient raw;
    ASSERT_TRUE(raw.Initiate("velkor", "velkor"));
    const struct {
        std::string item;
        bool served;
    } cases[] = {{"", false}, {"NONE", true}};
    for (const auto& c : cases) {
        const auto request = raw.Request(c.item);
        ASSERT_TRUE(request) << '"' << c.item << '"';
        EXPECT_EQ((request->status & 0x8000) != 0, c.served) << '"' << c.item << '"';
        const auto advise = raw.Advise(c.item);
        ASSERT_TRUE(advise) << '"' << c.item << '"';
        EXPECT_EQ(Acked(advise), c.served) << '"' << c.item << '"';
    }
}

TEST(RemoteServer, RenamedExecutableServesUnderItsFileName) {
    VelkorServer server("renamed.v2.exe");
    ASSERT_TRUE(server.Ready());
    DdemlClient client;
    const struct {
        const char* service;
        bool accepted;
    } cases[] = {{"renamed", true}, {"RENAMED", true}, {"renamed.v2", false}, {"velkor", false}};
    for (const auto& c : cases)
        EXPECT_EQ(bool(client.Connect(c.service, "velkor")), c.accepted) << c.service;
}

TEST(RemoteServer, ServerSurvivesAnOversizePoke) {
    VelkorServer server;
    ASSERT_TRUE(server.Ready());
    DdemlClient client;
    ASSERT_TRUE(client.Connect("velkor", "velkor"));
    // Beyond about 2 MB Wine loses the message: the server's GetMessage gives -1.
    const std::string huge(3 * 1024 * 1024, 'x');
    client.Poke("NONE", huge, CF_TEXT, 3000);
    EXPECT_TRUE(client.Poke("NONE", "still here\0"s).Acked());
    EXPECT_EQ(Value(client, "Text"), "still here\r\n\0"s);
}

TEST(RemoteClient, PokeTextAcknowledgedRefusedAndAfterTheServerEnded) {
    VelkorServer server;
    ASSERT_TRUE(server.Ready());
    TDdeClientConv say(nullptr);
    int closes = 0;
    say.OnClose = [&](TComponent&) { ++closes; };
    ASSERT_TRUE(say.LinkTo("velkor", "velkor"));

    const struct {
        const char* item;
        const char* text;
        bool acknowledged;
    } pokes[] = {{"NONE", "#velkor bob 1xyz", true}, {"Nothing", "refused", false}};
    for (const auto& p : pokes)
        EXPECT_EQ(PokeAndWait(say, p.item, p.text), p.acknowledged) << p.item;

    ASSERT_EQ(PokeAndWait(say, "Quit", ""), true);
    ASSERT_EQ(server.process.WaitExit(5000), 0u); // it ended its conversations as it went
    const DWORD start = GetTickCount();
    EXPECT_FALSE(say.PokeText("NONE", "too late"));
    EXPECT_LT(GetTickCount() - start, 100u);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(say.Linked());
    EXPECT_EQ(say.DdeService(), "velkor"); // kept until the next LinkTo
    EXPECT_FALSE(say.PokeText("NONE", "still too late"));
    EXPECT_EQ(closes, 1);
}

TEST(RemoteClient, FailedLinkLaunchesTheCommandLineOncePerAttempt) {
    const std::string counterExe = HelperDir() + "dde_launch_counter.exe";
    const struct {
        const char* what;
        std::string service, topic;
        bool withApplication;
        int attempts;
        int launches;
        bool applicationMissing = false; // then the fallback, the counter, is started
    } cases[] = {
        {"one attempt", "nosuchservice", "command", true, 1, 1},
        {"two attempts", "nosuchservice", "command", true, 2, 2},
        {"any service", "", "command", true, 1, 1},
        {"empty service and topic", "", "", true, 2, 0},
        // Without ServiceApplication the command line is service, blank, topic.
        {"service as command", counterExe, "COUNTER", false, 1, 1},
        {"fallback for a missing program", "nosuchservice", "command", true, 2, 2, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string counter = RunDir() + "launches" + std::to_string(++n) + ".txt";
        DeleteFileA(counter.c_str()); // Wine reuses process ids, and so run directories
        TDdeClientConv say(nullptr);
        if (c.withApplication) {
            // A found program keeps the fallback from starting: one launch per attempt.
            say.SetServiceApplication(c.applicationMissing ? "velkor-no-such-program.exe"
                                                           : counterExe + " " + counter);
            say.SetServiceFallback(counterExe + " " + counter);
        }
        const std::string topic = c.topic == "COUNTER" ? counter : c.topic;
        for (int i = 0; i < c.attempts; ++i) {
            EXPECT_FALSE(say.LinkTo(c.service, topic));
            EXPECT_EQ(say.DdeService(), "");
            EXPECT_EQ(say.DdeTopic(), "");
        }
        WaitFor([&] { return CountLines(counter) >= c.launches; }, std::chrono::seconds(10));
        PumpFor(300); // time for a launch too many to show
        EXPECT_EQ(CountLines(counter), c.launches);
    }
}

TEST(StartupError, ShownInATaskModalBoxAndExitCodeOne) {
    HelperProcess helper(HelperDir() + "dde_server_app.exe", "fail");
    ASSERT_TRUE(helper.Started());
    HWND box = nullptr;
    WaitFor(
        [&] {
            box = FindWindowA(nullptr, "Application Error");
            return box != nullptr;
        },
        std::chrono::seconds(10));
    ASSERT_NE(box, nullptr);
    // FindWindow can answer before the box's controls exist: wait for the text.
    std::string shown;
    WaitFor(
        [&] {
            EnumChildWindows(box, FindExceptionText, reinterpret_cast<LPARAM>(&shown));
            return !shown.empty();
        },
        std::chrono::seconds(5));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(helper.WaitExit(5000), 1u);

    const std::string head = "Exception EDdeError in module dde_server_app.exe at ";
    const std::string tail = ".\nDDE Error - conversation not established ($0400A).";
    EXPECT_EQ(shown.substr(0, head.size()), head) << shown;
    ASSERT_GE(shown.size(), tail.size());
    EXPECT_EQ(shown.substr(shown.size() - tail.size()), tail) << shown;
}
