// Hostile conditions around the window: pokes while a modal dialog or message box is open,
// an IRC client that accepts the conversation and never acknowledges, and a display filled
// past its character limit.
#include "tests/hostile/hostile_fixture.h"

#include "app/Menuids.h"
#include "chat/Chatlines.h"
#include "win/Inputquery.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

using namespace velkor;
using namespace velkor::chat;

TEST_F(Hostile, PokesAreShownWhileASettingsDialogIsOpen) {
    struct Row {
        int menu;
        const char* caption;
        const char* entry;
        bool confirm;
        const char* channelBefore;
        const char* channelAfter;
    };
    const Row rows[] = {
        {menuid::Bufferlines1, "Display Buffer Size", "0", false, "#velkor", "#velkor"},
        {menuid::Setkey1, "Encryption Key", "elsewise", false, "#velkor", "#velkor"},
        {menuid::Commandbuffer1, "Command Buffer Size", "3", false, "#velkor", "#velkor"},
        {menuid::ServerID1, "DDEServer Name", "mirc", true, "#velkor", "#velkor"},
        {menuid::Channel1, "Monitoring Channel", "#new", true, "#velkor", "#new"},
        {menuid::Channel1, "Monitoring Channel", "#velkor", true, "#new", "#velkor"},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.caption);
        ClearDisplay();
        const std::string during = std::to_string(++n);
        const auto whileOpen = [&](HWND dialog) {
            // The settings are those from before the dialog, and the line goes through all
            // of them: a buffer of 0 lines would already keep only the newest line.
            EXPECT_TRUE(App().Poke(std::string(row.channelBefore) + " dialog " + during));
            EXPECT_TRUE(App().Poke(std::string(row.channelBefore) + " dialog second"));
            EXPECT_TRUE(App().Poke(
                std::string(row.channelAfter == row.channelBefore ? "#nowhere" : row.channelAfter) +
                " dialog not yet"));
            EXPECT_TRUE(IsWindow(dialog)) << "the dialog stays open";
            EXPECT_EQ(WindowText(GetDlgItem(dialog, InputQueryFieldId)), row.entry)
                << "the entry is kept";
            EXPECT_EQ(App().DisplayLines(),
                      (std::vector<std::string>{"<dialog> " + during, "<dialog> second"}));
        };
        ASSERT_NO_FATAL_FAILURE(Setting(row.menu, row.caption, row.entry, row.confirm, whileOpen));
        ASSERT_TRUE(App().Poke(std::string(row.channelAfter) + " after " + during));
        EXPECT_EQ(App().DisplayLines().back(), "<after> " + during);
    }
    EXPECT_TRUE(PokeAndSee("after dialogs"));

    // The one message box of the program is modal too.
    EXPECT_FALSE(App().Type(std::string(257, 'b')));
    ASSERT_TRUE(App().MessageBoxWindow());
    EXPECT_TRUE(App().Poke("#velkor box shown"));
    EXPECT_EQ(App().DisplayLines().back(), "<box> shown");
    ASSERT_TRUE(App().DismissMessageBox());
    EXPECT_TRUE(PokeAndSee("after the box"));
}

// The send does not wait for mIRC: the window stays free, lines queue behind the one on
// its way, and that one is given up after 10 s.
TEST_F(Hostile, IrcClientThatNeverAcknowledgesCostsOneTimeout) {
    struct Row {
        const char* service;
        bool takesQueued; // its thread still takes pokes (it only never answers them)
    };
    // A DDEML server whose thread hangs in the poke, and a raw one that never answers.
    const Row rows[] = {{"stuckdde", false}, {"stuckraw", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.service);
        ClearDisplay();
        std::optional<CommandServer> stuckdde;
        std::optional<SilentDdeServer> stuckraw;
        if (row.takesQueued)
            stuckraw.emplace(row.service, "command");
        else
            stuckdde.emplace(row.service, CommandServer::Thread::Own, CommandServer::Answer::Never);
        const auto pokes = [&] {
            return stuckraw ? stuckraw->PokeCount() : static_cast<int>(stuckdde->Count());
        };
        ASSERT_NO_FATAL_FAILURE(Setting(menuid::ServerID1, "DDEServer Name", row.service, true));
        // The relink runs after the dialog has gone.
        ASSERT_TRUE(WaitFor([&] {
            return App().StatusText(1).rfind(std::string("Server: ") + row.service, 0) == 0;
        })) << App().StatusText(1);

        const std::string line = std::string("to ") + row.service;
        App().SetInput(line);
        const auto sent = Clock::now();
        App().PressEnter();
        ASSERT_TRUE(App().WaitSent(std::chrono::milliseconds(5000)));
        const long long sendMs = MsSince(sent);
        ASSERT_TRUE(WaitFor([&] { return pokes() == 1; })) << "the line went out";
        // A channel line arrives meanwhile and is shown at once, not after a time-out.
        const auto during = Clock::now();
        EXPECT_TRUE(PokeAndSee(std::string("during ") + row.service));
        const long long duringMs = MsSince(during);
        ASSERT_TRUE(App().Type(std::string("queued for ") + row.service));
        std::printf("%s: send %lld ms, a line in meanwhile %lld ms\n", row.service, sendMs,
                    duringMs);
        EXPECT_LT(sendMs, 1000) << "the send waits for nothing";
        EXPECT_LT(duringMs, 2000);
        if (row.takesQueued) {
            // The queued line goes out once the first is given up: 10 s after it was sent.
            ASSERT_TRUE(WaitFor([&] { return pokes() == 2; }, std::chrono::milliseconds(20000)));
            const long long queuedMs = MsSince(sent);
            std::printf("%s: the queued line went out after %lld ms\n", row.service, queuedMs);
            EXPECT_GE(queuedMs, 9000) << "one poke on its way at a time";
            EXPECT_LE(queuedMs, 16000) << "given up after 10000 ms";
        } else {
            EXPECT_EQ(pokes(), 1) << "its thread hangs in the first";
        }
        const auto lines = App().DisplayLines();
        // Echoed; by now possibly marked as not sent.
        EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                               [&](const std::string& l) { return l.ends_with(line); }),
                  lines.end())
            << "echoed";
        EXPECT_FALSE(App().MessageBoxWindow());

        // Back to the IRC client that answers: the next line goes out at once.
        stuckdde.reset();
        stuckraw.reset();
        ASSERT_NO_FATAL_FAILURE(Setting(menuid::ServerID1, "DDEServer Name", "mirc", true));
        ASSERT_TRUE(WaitFor([] { return App().StatusText(1).rfind("Server: mirc", 0) == 0; }));
        const std::size_t before = Mirc().Count();
        ASSERT_TRUE(App().Type(std::string("back from ") + row.service));
        ASSERT_TRUE(WaitFor([&] { return Mirc().Count() == before + 1; }));
        EXPECT_EQ(Mirc().Pokes().back(), std::string("/msg #velkor back from ") + row.service);
    }
}

TEST_F(Hostile, FullDisplayDropsTheOldestLinesWithoutAMessageBox) {
    ASSERT_NO_FATAL_FAILURE(Setting(menuid::Bufferlines1, "Display Buffer Size", "100000", true));
    ClearDisplay();
    constexpr int kLines = 560;           // about 2.25 million characters
    constexpr std::size_t kLength = 4000; // of each message text
    constexpr std::size_t kLimit = 2000000;
    const auto text = [](int i) {
        char head[16];
        std::snprintf(head, sizeof head, "%04d ", i);
        return std::string(head) + std::string(kLength - 5, static_cast<char>('a' + i % 26));
    };
    DdemlClient client;
    ASSERT_TRUE(client.Connect());
    int acked = 0;
    std::size_t longest = 0;
    std::optional<Unpainted> unpainted(std::in_place);
    for (int i = 0; i < kLines; ++i) {
        acked += client.Poke("NONE", "#velkor long " + text(i) + '\0').Acked();
        if (i % 10 == 9 && App().MessageBoxWindow()) break;
        if (i % 10 == 9 || i + 1 == kLines) longest = std::max(longest, App().StoredLength());
    }
    unpainted.reset();
    EXPECT_EQ(acked, kLines);
    EXPECT_FALSE(App().MessageBoxWindow()) << "no error box per line";
    EXPECT_LE(longest, kLimit);
    // Full but not emptied: the newest line last and whole (in paragraphs of the display's
    // longest), the oldest gone.
    const auto lines = App().DisplayLines();
    std::string newest;
    for (auto it = lines.rbegin(); it != lines.rend() && newest.rfind("<long> ", 0) != 0; ++it)
        newest = *it + newest;
    EXPECT_EQ(newest, "<long> " + text(kLines - 1));
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "<long> " + text(0).substr(0, 1017)),
              lines.end())
        << "the oldest line is gone";
    for (const auto& line : lines)
        ASSERT_LE(line.size(), DisplayParagraphLimit);
    EXPECT_GE(App().StoredLength(), kLimit - 3 * (kLength + 10)) << "no more dropped than needed";
    std::printf("display: %zu characters after %d lines of %zu\n", App().StoredLength(), kLines,
                kLength);
    EXPECT_TRUE(PokeAndSee("after a full display"));
    ASSERT_NO_FATAL_FAILURE(Setting(menuid::Bufferlines1, "Display Buffer Size", "200", true));
    Restart(); // sooner than clearing the full display (seconds under Wine)
}
