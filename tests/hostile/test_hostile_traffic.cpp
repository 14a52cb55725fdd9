// Hostile DDE traffic: a burst of pokes from several clients at once, connect and
// disconnect storms, and requests and advise loops on NONE, through DDEML and raw messages.
#include "tests/hostile/hostile_fixture.h"

#include "app/Menuids.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <latch>
#include <optional>
#include <thread>
#include <vector>

using namespace velkor;

namespace {

// The numbers of the lines "<tag> n" in display order.
std::vector<int> ShownNumbers(const std::vector<std::string>& lines, const std::string& tag) {
    std::vector<int> numbers;
    const std::string prefix = "<" + tag + "> ";
    for (const auto& line : lines)
        if (line.rfind(prefix, 0) == 0) numbers.push_back(std::stoi(line.substr(prefix.size())));
    return numbers;
}

} // namespace

TEST_F(Hostile, BurstFromSeveralClientsLosesNothingAcknowledged) {
    constexpr int kClients = 4, kEach = 2500; // 10,000 pokes, one in ten for another channel
    ASSERT_NO_FATAL_FAILURE(Setting(menuid::Bufferlines1, "Display Buffer Size", "20000", true));
    struct Tally {
        std::vector<int> acked; // of the monitored channel, in sending order
        int ackedOther = 0, refused = 0, failed = 0;
        bool connected = false;
    };
    std::vector<Tally> tallies(kClients);
    std::optional<Unpainted> unpainted(std::in_place);
    std::latch start(kClients);
    std::vector<PumpedThread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            Tally& t = tallies[c];
            DdemlClient client;
            t.connected = client.Connect();
            // Waiting, the thread still answers the others' DdeConnect broadcasts.
            start.count_down();
            while (!start.try_wait())
                PumpFor(5);
            if (!t.connected) return;
            for (int i = 0; i < kEach; ++i) {
                const bool other = i % 10 == 9;
                const std::string text = std::string(other ? "#other" : "#velkor") + " c" +
                                         std::to_string(c) + " " + std::to_string(i) + '\0';
                const TransactionResult r = client.Poke("NONE", text, CF_TEXT, 10000);
                if (r.Acked() && other)
                    ++t.ackedOther;
                else if (r.Acked())
                    t.acked.push_back(i);
                else if (r.returned)
                    ++t.refused;
                else
                    ++t.failed;
            }
        });
    for (auto& t : clients)
        t.Join();
    unpainted.reset();

    const auto lines = App().DisplayLines();
    std::size_t acked = 0, shown = 0;
    for (int c = 0; c < kClients; ++c) {
        const Tally& t = tallies[c];
        ASSERT_TRUE(t.connected) << "client " << c;
        const std::vector<int> numbers = ShownNumbers(lines, "c" + std::to_string(c));
        acked += t.acked.size();
        shown += numbers.size();
        // Every acknowledged poke is shown, in its client's order; none of another channel.
        std::size_t next = 0;
        for (const int n : numbers) {
            EXPECT_NE(n % 10, 9) << "client " << c << ": a line of #other shown";
            if (next < t.acked.size() && t.acked[next] == n) ++next;
        }
        EXPECT_EQ(next, t.acked.size()) << "client " << c << ": acknowledged but not shown";
        EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end())) << "client " << c;
        EXPECT_EQ(t.refused, 0) << "client " << c;
        std::printf("client %d: %zu acked (+%d for #other), %d refused, %d failed, %zu shown\n", c,
                    t.acked.size(), t.ackedOther, t.refused, t.failed, numbers.size());
    }
    std::printf("burst: %d pokes, %zu of #velkor acked, %zu shown\n", kClients * kEach, acked,
                shown);
    EXPECT_EQ(shown, acked);
    EXPECT_GE(acked, static_cast<std::size_t>(kClients * kEach * 9 / 10 * 99 / 100))
        << "most pokes are answered in time";
    EXPECT_FALSE(App().MessageBoxWindow());
    EXPECT_TRUE(PokeAndSee("after burst"));
    ASSERT_NO_FATAL_FAILURE(Setting(menuid::Bufferlines1, "Display Buffer Size", "200", true));
    Restart(); // sooner than clearing 9,000 lines (20 s under Wine)
}

TEST_F(Hostile, ConnectAndDisconnectStorms) {
    struct Row {
        const char* name;
        std::function<void()> storm;
        bool ended; // every conversation was ended: its windows must go
    };
    const auto connectLoop = [](int times) {
        DdemlClient client;
        for (int i = 0; i < times; ++i) {
            ASSERT_TRUE(client.Connect()) << i;
            client.Disconnect();
        }
    };
    const Row rows[] = {
        {"DDEML connect and disconnect x60", [&] { connectLoop(60); }, true},
        {"DDEML instances ended with the conversation open x20",
         [] {
             for (int i = 0; i < 20; ++i) {
                 DdemlClient client; // DdeUninitialize ends what is still open
                 ASSERT_TRUE(client.Connect()) << i;
             }
         },
         true},
        {"4 threads connect and disconnect x15 each",
         [&] {
             std::vector<PumpedThread> threads;
             for (int t = 0; t < 4; ++t)
                 threads.emplace_back([&] { connectLoop(15); });
             for (auto& t : threads)
                 t.Join();
         },
         true},
        {"raw initiate and terminate x30",
         [] {
             for (int i = 0; i < 30; ++i) {
                 RawDdeClient raw;
                 ASSERT_TRUE(raw.Initiate()) << i;
                 raw.Terminate();
             }
             PumpFor(200);
         },
         true},
        // The client's window is destroyed without a goodbye, as when a program is killed:
        // velkor ends those conversations itself.
        {"raw initiate and vanish x20",
         [] {
             for (int i = 0; i < 20; ++i) {
                 RawDdeClient raw;
                 ASSERT_TRUE(raw.Initiate()) << i;
                 raw.Abandon();
             }
         },
         true},
    };
    const int baseline = ProcessWindows(App().ProcessId());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int before = ProcessWindows(App().ProcessId());
        row.storm();
        EXPECT_TRUE(PokeAndSee(row.name));
        if (row.ended) {
            EXPECT_TRUE(WaitFor([&] { return ProcessWindows(App().ProcessId()) <= before; }))
                << ProcessWindows(App().ProcessId()) << " windows, " << before << " before";
        }
    }
    std::printf("windows of velkor: %d before the storms, %d after\n", baseline,
                ProcessWindows(App().ProcessId()));
}

TEST_F(Hostile, RequestsAndAdviseLoopsOnNone) {
    DdemlClient poker;
    ASSERT_TRUE(poker.Connect());
    const auto poke = [&](const std::string& word) {
        ASSERT_TRUE(poker.Poke("NONE", "#velkor adv " + word + '\0').Acked()) << word;
    };
    poke("one");

    const auto rtf = static_cast<UINT>(RegisterClipboardFormatA("Rich Text Format"));
    struct RequestRow {
        const char* item;
        UINT format;
        std::optional<std::string> answer; // up to its zero byte
    };
    const RequestRow requests[] = {
        {"NONE", CF_TEXT, "#velkor adv one\r\n"},
        {"NONE", CF_UNICODETEXT, std::nullopt},
        {"NONE", rtf, std::nullopt},
        {"NONE2", CF_TEXT, std::nullopt},
        {"Display", CF_TEXT, std::nullopt},
    };
    for (const auto& row : requests) {
        auto answer = poker.Request(row.item, row.format);
        if (answer) answer->resize(std::min(answer->size(), answer->find('\0')));
        EXPECT_EQ(answer, row.answer) << row.item << " format " << row.format;
    }

    DdemlClient hot, warm, odd;
    ASSERT_TRUE(hot.Connect() && warm.Connect() && odd.Connect());
    struct AdviseRow {
        DdemlClient* client;
        const char* item;
        bool warm;
        UINT format;
        bool started;
    };
    const AdviseRow advises[] = {
        {&hot, "NONE", false, CF_TEXT, true},         {&warm, "NONE", true, CF_TEXT, true},
        {&odd, "NONE", false, CF_UNICODETEXT, false}, {&odd, "NONE2", false, CF_TEXT, false},
        {&odd, "say", true, CF_TEXT, false},
    };
    for (const auto& row : advises)
        EXPECT_EQ(row.client->AdviseStart(row.item, row.warm, row.format), row.started)
            << row.item << (row.warm ? " warm" : " hot") << " format " << row.format;

    poke("two");
    EXPECT_TRUE(WaitFor([&] { return hot.AdviseData().size() == 1 && warm.WarmNotices() == 1; }))
        << hot.AdviseData().size() << " hot, " << warm.WarmNotices() << " warm";
    if (!hot.AdviseData().empty()) {
        EXPECT_EQ(hot.AdviseData()[0].substr(0, hot.AdviseData()[0].find('\0')),
                  "#velkor adv two\r\n");
    }

    EXPECT_TRUE(hot.AdviseStop("NONE"));
    poke("three");
    EXPECT_TRUE(WaitFor([&] { return warm.WarmNotices() == 2; }));
    PumpFor(200);
    EXPECT_EQ(hot.AdviseData().size(), 1u) << "no data after the advise stop";
    warm.Disconnect(); // with its link still running
    poke("four");
    EXPECT_EQ(App().DisplayLines(),
              (std::vector<std::string>{"<adv> one", "<adv> two", "<adv> three", "<adv> four"}));

    // The same through raw messages, the empty item name included.
    RawDdeClient raw;
    ASSERT_TRUE(raw.Initiate());
    struct RawRow {
        const char* what;
        std::function<std::optional<RawDdeClient::Reply>()> send;
        std::optional<UINT> message; // nothing: no answer is also fine
        bool positive;
        std::string data;
    };
    const RawRow raws[] = {
        {"request \"\"", [&] { return raw.Request(""); }, WM_DDE_ACK, false, ""},
        {"request NONE", [&] { return raw.Request("NONE"); }, WM_DDE_DATA, true,
         "#velkor adv four\r\n"},
        {"request NONE as Unicode", [&] { return raw.Request("NONE", CF_UNICODETEXT); }, WM_DDE_ACK,
         false, ""},
        {"advise \"\"", [&] { return raw.Advise(""); }, WM_DDE_ACK, false, ""},
        {"advise NONE", [&] { return raw.Advise("NONE"); }, WM_DDE_ACK, true, ""},
        {"update after a poke",
         [&] {
             poke("five");
             return raw.Wait(3000);
         },
         WM_DDE_DATA, true, "#velkor adv five\r\n"},
        {"unadvise \"\"", [&] { return raw.Unadvise("", CF_TEXT, 500); }, std::nullopt, true, ""},
        {"unadvise NONE", [&] { return raw.Unadvise("NONE"); }, WM_DDE_ACK, true, ""},
        {"advise NONE again", [&] { return raw.Advise("NONE"); }, WM_DDE_ACK, true, ""},
    };
    for (const auto& row : raws) {
        SCOPED_TRACE(row.what);
        const auto reply = row.send();
        PumpFor(50); // a request's extra acknowledgement
        if (!row.message) {
            if (reply) {
                EXPECT_EQ(reply->message, static_cast<UINT>(WM_DDE_ACK));
            }
            continue;
        }
        ASSERT_TRUE(reply) << "no answer";
        EXPECT_EQ(reply->message, *row.message);
        if (reply->message == WM_DDE_ACK)
            EXPECT_EQ((reply->status & 0x8000) != 0, row.positive);
        else
            EXPECT_EQ(reply->data, row.data);
    }
    // A client that vanishes with an advise loop running.
    raw.Abandon();
    poke("six");
    EXPECT_TRUE(PokeAndSee("after advise loops"));
    EXPECT_FALSE(App().MessageBoxWindow());
}
