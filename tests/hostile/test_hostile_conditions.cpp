// DDE under real conditions, one table: velkor beside an IRC client that on one thread both
// takes velkor's commands and opens a conversation for every channel line (mIRC's remote
// event), both sides talking at once; that client ended cleanly, killed, or its DDE server
// switched off and on, each followed by a relink; clients that vanish; a hung program on
// the desktop at start-up and at "Manual connect", and six at once. Every row ends with the same
// checks: every line delivered and shown, in order; no send over 1 s; velkor's windows back to
// their number before the row.
//
// VELKOR_DDE_JITTER_SECONDS sets how long both sides talk at once (30 by default).
#include "tests/hostile/hostile_fixture.h"

#include "app/Menuids.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>

using namespace velkor;

namespace {

constexpr char kMircService[] = "mirc1"; // the stand-in's server ID, set as velkor's ServerID
constexpr long long kMaxSendMs = 1000;
// velkor looks for vanished clients on every transaction and every 3 s.
constexpr std::chrono::milliseconds kSweepWait(8000);

// mIRC as it runs: one thread. Its DDE server takes velkor's command pokes whenever this
// thread handles messages, and its remote event opens a conversation to velkor for each
// channel line on the same thread.
std::unique_ptr<CommandServer> OneThreadMirc() {
    return std::make_unique<CommandServer>(kMircService, CommandServer::Thread::Caller);
}

std::vector<CommandServer::Arrival> ArrivalsOf(const DdeSinkProcess& sink) {
    std::vector<CommandServer::Arrival> arrivals;
    for (std::string& text : sink.Texts())
        arrivals.push_back({std::move(text), std::nullopt, std::nullopt, 0});
    return arrivals;
}

// The echo of a typed line that did not reach the IRC client: marked at its front.
bool MarkedEcho(const std::string& shown, const std::string& text) {
    return shown.starts_with("[NOT SENT: ") && shown.ends_with("] " + text);
}

// The lines of one row, what became of them and how long each took.
class Traffic {
  public:
    // `app` answers the running program: a row that restarts it gets the new one.
    explicit Traffic(std::function<Velkor&()> app) : app_(std::move(app)) {}

    // Types a line into velkor; `target` names who must receive it ("" for nobody).
    void Type(const std::string& text, const std::string& target) {
        app_().SetInput(text);
        const auto at = Clock::now();
        app_().PressEnter();
        EXPECT_TRUE(app_().WaitSent()) << text;
        worstSend = std::max(worstSend, MsSince(at));
        typed_.push_back({text, target, at});
    }

    // mIRC's remote event for one channel line: a conversation of its own, item "".
    void Say(const std::string& text) {
        const auto at = Clock::now();
        RawDdeClient client;
        const bool linked = client.Initiate();
        const auto reply = linked ? client.Poke("", "#velkor bob " + text + '\0') : std::nullopt;
        client.Terminate();
        worstSay = std::max(worstSay, MsSince(at));
        EXPECT_TRUE(Acked(reply)) << "channel line " << text
                                  << (linked ? " not acknowledged" : ": no conversation");
        said_.push_back(text);
    }

    // Waits until `received` holds every line typed for `target`, then checks them: all
    // of them, in the order typed, nothing else.
    void ExpectArrived(const std::string& target,
                       const std::function<std::vector<CommandServer::Arrival>()>& received) {
        std::vector<const TypedLine*> want;
        for (const TypedLine& t : typed_)
            if (t.target == target) want.push_back(&t);
        std::vector<CommandServer::Arrival> got;
        WaitFor([&] { return (got = received()).size() >= want.size(); },
                std::chrono::milliseconds(15000));
        PumpFor(100); // time for a line too many to show
        got = received();
        std::vector<std::string> wantTexts, gotTexts;
        for (const TypedLine* t : want)
            wantTexts.push_back("/msg #velkor " + t->text);
        for (const auto& a : got)
            gotTexts.push_back(a.text);
        EXPECT_EQ(gotTexts, wantTexts) << "to " << target;
        for (std::size_t i = 0; i < std::min(want.size(), got.size()); ++i)
            if (got[i].at)
                worstDelivery = std::max(
                    worstDelivery,
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               *got[i].at - want[i]->at)
                                               .count()));
    }

    // Every typed line echoed and every channel line shown, each kind in its order.
    void ExpectShown() {
        const std::vector<std::string> lines = app_().DisplayLines();
        std::size_t t = 0, s = 0;
        for (const std::string& line : lines) {
            // A line for nobody (no IRC client then) is shown marked as not sent.
            if (t < typed_.size() && (line == typed_[t].text || (typed_[t].target.empty() &&
                                                                 MarkedEcho(line, typed_[t].text))))
                ++t;
            else if (s < said_.size() && line == "<bob> " + said_[s])
                ++s;
        }
        EXPECT_EQ(t, typed_.size())
            << "echo missing or out of order: " << (t < typed_.size() ? typed_[t].text : "");
        EXPECT_EQ(s, said_.size())
            << "channel line missing or out of order: " << (s < said_.size() ? said_[s] : "");
        EXPECT_LT(worstSend, kMaxSendMs) << "Enter to the input box emptied";
        EXPECT_LT(worstDelivery, kMaxSendMs) << "Enter to the line at the IRC client";
        EXPECT_LT(worstSay, kMaxSendMs) << "a channel line poked and answered";
    }

    std::size_t TypedCount() const { return typed_.size(); }
    std::size_t SaidCount() const { return said_.size(); }

    long long worstSend = 0, worstDelivery = 0, worstSay = 0;

  private:
    struct TypedLine {
        std::string text, target;
        Clock::time_point at;
    };
    std::function<Velkor&()> app_;
    std::vector<TypedLine> typed_;
    std::vector<std::string> said_;
};

int JitterSeconds() {
    const char* value = std::getenv("VELKOR_DDE_JITTER_SECONDS");
    const int seconds = value ? std::atoi(value) : 0;
    return seconds > 0 ? seconds : 30;
}

} // namespace

TEST_F(Hostile, RealConditionsTable) {
    struct Run {
        Traffic& traffic;
        std::unique_ptr<CommandServer>& mirc;
        std::map<std::string, long long>& figures;
    };
    const auto relink = [] {
        App().Menu(menuid::Manualconnect1); // posted: handled before a line typed after it
    };
    const auto mircArrivals = [](const std::unique_ptr<CommandServer>& m) {
        return [&m] { return m ? m->Arrivals() : std::vector<CommandServer::Arrival>{}; };
    };
    struct Row {
        const char* name;
        std::function<void(Run&)> body;
    };
    const Row rows[] = {
        {"both sides every 200 ms with jitter",
         [&](Run& r) {
             std::mt19937 rng(20240612);
             std::uniform_int_distribution<int> gap(100, 300); // 200 ms on average
             const auto start = Clock::now();
             const auto end = start + std::chrono::seconds(JitterSeconds());
             auto nextType = start + std::chrono::milliseconds(gap(rng));
             auto nextSay = start + std::chrono::milliseconds(gap(rng));
             int t = 0, s = 0;
             while (Clock::now() < end) {
                 if (Clock::now() >= nextType) {
                     r.traffic.Type("typed " + std::to_string(++t), "mirc");
                     nextType += std::chrono::milliseconds(gap(rng));
                 }
                 if (Clock::now() >= nextSay) {
                     r.traffic.Say("said " + std::to_string(++s));
                     nextSay += std::chrono::milliseconds(gap(rng));
                 }
                 const auto next = std::min(nextType, nextSay);
                 if (next > Clock::now())
                     PumpFor(static_cast<DWORD>(
                         std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now())
                             .count() +
                         1));
             }
             r.traffic.ExpectArrived("mirc", mircArrivals(r.mirc));
         }},
        {"a channel line poked from inside velkor's command poke",
         [&](Run& r) {
             int n = 0;
             r.mirc->onCommand = [&](const CommandServer::Arrival&) {
                 r.traffic.Say("reply " + std::to_string(++n));
                 return true;
             };
             for (int i = 1; i <= 6; ++i)
                 r.traffic.Type("asks " + std::to_string(i), "mirc");
             r.traffic.ExpectArrived("mirc", mircArrivals(r.mirc));
             EXPECT_EQ(n, 6) << "a reply inside every command";
             r.mirc->onCommand = nullptr;
         }},
        {"clean end (mIRC closed), then relink",
         [&](Run& r) {
             r.traffic.Type("before the end", "first");
             r.traffic.Say("before the end");
             r.traffic.ExpectArrived("first", mircArrivals(r.mirc));
             r.mirc.reset();
             r.traffic.Type("while closed", "");
             r.traffic.Say("while closed");
             r.mirc = OneThreadMirc();
             relink();
             for (int i = 1; i <= 3; ++i)
                 r.traffic.Type("after the relink " + std::to_string(i), "mirc");
             r.traffic.Say("after the relink");
             r.traffic.ExpectArrived("mirc", mircArrivals(r.mirc));
         }},
        {"killed client, then relink",
         [&](Run& r) {
             r.mirc.reset();
             DdeSinkProcess sink(DDESINK_EXE, kMircService, TempPath("killed-sink.txt"));
             ASSERT_TRUE(sink.Up());
             relink();
             r.traffic.Type("to the doomed one 1", "sink");
             r.traffic.Type("to the doomed one 2", "sink");
             r.traffic.ExpectArrived("sink", [&] { return ArrivalsOf(sink); });
             sink.Kill();
             r.traffic.Type("while killed", "");
             r.traffic.Say("while killed");
             r.mirc = OneThreadMirc();
             relink();
             r.traffic.Type("after the relink 1", "mirc");
             r.traffic.Type("after the relink 2", "mirc");
             r.traffic.ExpectArrived("mirc", mircArrivals(r.mirc));
         }},
        {"DDE server switched off and on",
         [&](Run& r) {
             r.traffic.Type("before off", "mirc");
             r.traffic.ExpectArrived("mirc", mircArrivals(r.mirc));
             r.mirc->SwitchOff();
             PumpFor(100);
             r.traffic.Say("while off");
             r.mirc->SwitchOn();
             relink();
             r.traffic.Type("back on 1", "mirc");
             r.traffic.Type("back on 2", "mirc");
             r.traffic.ExpectArrived("mirc", mircArrivals(r.mirc));
         }},
        {"10 clients vanish with their conversations open",
         [&](Run& r) {
             // soak_probe linger: a client in a process of its own that keeps its
             // conversation open; its "poked" goes nowhere, the display shows the poke.
             std::vector<std::unique_ptr<Process>> clients;
             for (int i = 1; i <= 10; ++i)
                 clients.push_back(std::make_unique<Process>(
                     SOAK_PROBE_EXE, "linger " + std::to_string(i), Process::Output::Discard));
             ASSERT_TRUE(WaitFor(
                 [] {
                     const auto lines = App().DisplayLines();
                     return std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
                                return l.rfind("<linger> ", 0) == 0;
                            }) == 10;
                 },
                 std::chrono::milliseconds(30000)))
                 << "the lingering clients did not all poke";
             const int open = ProcessWindows(App().ProcessId());
             clients.clear(); // killed
             r.figures["windows with 10 open"] = open;
             r.traffic.Say("after the kills");
             r.traffic.Type("after the kills", "mirc");
             r.traffic.ExpectArrived("mirc", mircArrivals(r.mirc));
         }},
        {"a hung program at start-up",
         [&](Run& r) {
             HungWindow hung;
             const auto start = Clock::now();
             Restart();
             r.figures["start-up ms"] = MsSince(start);
             r.figures["windows after start"] = ProcessWindows(App().ProcessId());
             EXPECT_LT(r.figures["start-up ms"], 1000) << "launch to the status line written";
             ASSERT_NO_FATAL_FAILURE(
                 Setting(menuid::Bufferlines1, "Display Buffer Size", "5000", true));
             ASSERT_NO_FATAL_FAILURE(
                 Setting(menuid::ServerID1, "DDEServer Name", kMircService, true));
             r.traffic.Type("beside a hung program", "mirc");
             r.traffic.Say("beside a hung program");
             r.traffic.ExpectArrived("mirc", mircArrivals(r.mirc));
         }},
        {"six freshly hung programs at Manual connect",
         [&](Run& r) {
             std::array<HungWindow, 6> hung;
             relink();
             r.traffic.Type("past six hung programs", "mirc");
             r.traffic.Say("past six hung programs");
             r.traffic.ExpectArrived("mirc", mircArrivals(r.mirc));
         }},
        {"a hung program at Manual connect",
         [&](Run& r) {
             HungWindow hung;
             const auto start = Clock::now();
             relink();
             r.traffic.Type("right after Manual connect", "mirc");
             r.figures["Manual connect and a send ms"] = MsSince(start);
             r.traffic.Say("right after Manual connect");
             r.traffic.Type("and one more", "mirc");
             r.traffic.ExpectArrived("mirc", mircArrivals(r.mirc));
         }},
    };

    // Without a hung program, for comparison with the start-up beside one.
    const auto plainStart = Clock::now();
    Restart();
    const long long plainStartMs = MsSince(plainStart);
    ASSERT_NO_FATAL_FAILURE(Setting(menuid::Bufferlines1, "Display Buffer Size", "5000", true));
    std::unique_ptr<CommandServer> mirc = OneThreadMirc();
    ASSERT_NO_FATAL_FAILURE(Setting(menuid::ServerID1, "DDEServer Name", kMircService, true));
    std::printf("start-up without a hung program: %lld ms\n", plainStartMs);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ClearDisplay();
        if (!mirc) mirc = OneThreadMirc();
        mirc->ForgetArrivals();
        Traffic traffic(&App);
        std::map<std::string, long long> figures;
        Run run{traffic, mirc, figures};
        // Settle DDEML's windows of earlier rows first: each row is measured on its own.
        PumpFor(200);
        int before = ProcessWindows(App().ProcessId());
        row.body(run);
        if (figures.count("windows after start")) // a new velkor: counted from its start
            before = static_cast<int>(figures["windows after start"]);
        traffic.ExpectShown();
        // Vanished clients are found on the next transaction or within a few seconds.
        const bool flat =
            WaitFor([&] { return ProcessWindows(App().ProcessId()) <= before; }, kSweepWait);
        EXPECT_TRUE(flat) << ProcessWindows(App().ProcessId()) << " windows of velkor, " << before
                          << " before";
        EXPECT_TRUE(App().Alive());
        EXPECT_FALSE(App().MessageBoxWindow());
        std::printf("%s: %zu typed, %zu said; worst send %lld ms, delivery %lld ms, channel "
                    "line %lld ms; windows %d before, %d after",
                    row.name, traffic.TypedCount(), traffic.SaidCount(), traffic.worstSend,
                    traffic.worstDelivery, traffic.worstSay, before,
                    ProcessWindows(App().ProcessId()));
        for (const auto& [what, value] : figures)
            std::printf("; %s %lld", what.c_str(), value);
        std::printf("\n");
    }
    mirc.reset();
    Restart(); // the start settings for the cases after this one
}

namespace {

// VELKOR_DDE_RESTARTS: how often the restart row restarts the IRC client (20 by default).
int Restarts() {
    const char* value = std::getenv("VELKOR_DDE_RESTARTS");
    return value && std::atoi(value) > 0 ? std::atoi(value) : 20;
}

} // namespace

// Delivered or marked, one table: IRC clients that answer busy, refuse, hang, keep all
// conversations in one window, start late or restart. Every typed line must reach the IRC
// client once, in order, or be shown marked as not sent in its echo.
TEST_F(Hostile, DeliveredOrMarkedTable) {
    struct Run {
        std::unique_ptr<CommandServer> mirc = std::make_unique<CommandServer>(kMircService);
        std::optional<SilentDdeServer> raw;
        std::vector<std::string> gone;                   // taken by servers that went
        std::vector<std::pair<std::string, bool>> typed; // and whether it must arrive
        void Type(const std::string& prefix, int n, bool mustArrive) {
            for (int i = 1; i <= n; ++i) {
                typed.push_back({prefix + " " + std::to_string(i), mustArrive});
                EXPECT_TRUE(App().Type(typed.back().first, std::chrono::milliseconds(15000)));
            }
        }
        void Restart() {
            for (std::string& t : mirc->Pokes())
                gone.push_back("taken " + std::move(t));
            mirc.reset(); // gone, then started again
            mirc = std::make_unique<CommandServer>(kMircService);
        }
    };
    const auto linked = [] { return WaitFor([] { return App().StatusText(2) == "DDE: linked"; }); };
    const auto marks = [](const char* reason) {
        const auto lines = App().DisplayLines();
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.starts_with(std::string("[NOT SENT: ") + reason + "] ");
        });
    };
    const std::pair<const char*, std::function<void(Run&)>> rows[] = {
        {"busy for the first 8 pokes",
         [](Run& r) {
             r.mirc->SetBehaviour({.busyFirst = 8});
             r.Type("busy", 5, true);
         }},
        {"refuses every poke",
         [](Run& r) {
             r.mirc->SetBehaviour({.refuse = true});
             r.Type("refused", 5, false);
         }},
        {"busy throughout, 55 lines at once",
         [&](Run& r) {
             r.mirc->SetBehaviour({.busyFirst = 1 << 30});
             r.Type("waiting", 55, false);
             EXPECT_EQ(marks("too many lines waiting for mIRC"), 5) << "past 50, at once";
         }},
        {"hangs 3 s in its first poke",
         [](Run& r) {
             r.mirc->SetBehaviour({.hangFirst = 1, .hangMs = 3000});
             r.Type("slow", 4, true);
         }},
        {"hangs 12 s, past the poke's time",
         [&](Run& r) {
             r.mirc->SetBehaviour({.hangFirst = 1, .hangMs = 12000});
             r.Type("hung", 2, false);
             PumpFor(12500); // given up after 10 s; the server back after 12
             r.Type("after the hang", 1, true);
             EXPECT_EQ(marks("no answer from mIRC"), 1);
         }},
        {"one window for all conversations, Manual connect for every line",
         [&](Run& r) {
             r.mirc.reset();
             r.raw.emplace(kMircService, "command", SilentDdeServer::Pokes::Answering);
             for (int i = 1; i <= 6; ++i) {
                 App().Menu(menuid::Manualconnect1);
                 r.Type("one window " + std::to_string(i), 1, true);
             }
         }},
        {"starts late",
         [&](Run& r) {
             r.mirc.reset();
             App().Menu(menuid::Manualconnect1);
             r.Type("before the start", 2, false);
             EXPECT_EQ(App().StatusText(2), "DDE: not linked");
             r.mirc = std::make_unique<CommandServer>(kMircService);
             EXPECT_TRUE(linked()) << "relinked by itself";
             r.Type("after the start", 3, true);
         }},
        {"restarts, a line every 200 ms",
         [&](Run& r) {
             for (int i = 1; i <= Restarts(); ++i) {
                 r.Type("before restart " + std::to_string(i), 1, true);
                 PumpFor(200);
                 r.Restart();
                 r.Type("after restart " + std::to_string(i), 1, false);
                 PumpFor(200);
             }
         }},
    };

    Restart();
    ASSERT_NO_FATAL_FAILURE(Setting(menuid::Bufferlines1, "Display Buffer Size", "5000", true));
    for (const auto& [name, body] : rows) {
        SCOPED_TRACE(name);
        Run r;
        ASSERT_NO_FATAL_FAILURE(Setting(menuid::ServerID1, "DDEServer Name", kMircService, true));
        ASSERT_TRUE(linked());
        ClearDisplay();
        const auto start = Clock::now();
        body(r);
        // Settled: every line delivered, or its echo marked; then each checked.
        std::vector<std::string> got, shown, want;
        const auto fate = [&](const std::string& text) {
            const long taken = std::count(got.begin(), got.end(), "taken /msg #velkor " + text);
            const bool marked = std::any_of(shown.begin(), shown.end(),
                                            [&](const auto& l) { return MarkedEcho(l, text); });
            return std::pair{taken, marked};
        };
        WaitFor(
            [&] {
                got = r.gone;
                for (const std::string& t : r.raw ? r.raw->Texts() : r.mirc->Pokes())
                    got.push_back("taken " + t);
                shown = App().DisplayLines();
                return std::all_of(r.typed.begin(), r.typed.end(), [&](const auto& t) {
                    const auto [taken, marked] = fate(t.first);
                    return taken || marked;
                });
            },
            std::chrono::milliseconds(15000));
        int marked = 0;
        for (const auto& [text, mustArrive] : r.typed) {
            const auto [taken, isMarked] = fate(text);
            // A line that must arrive arrives unmarked; another may be taken as it was given
            // up (no answer in time), but never lost without a mark.
            EXPECT_TRUE(mustArrive ? taken == 1 && !isMarked
                                   : taken == 1 || (taken == 0 && isMarked))
                << text << ": taken " << taken << " times, marked " << isMarked;
            if (taken) want.push_back("taken /msg #velkor " + text);
            marked += isMarked;
        }
        EXPECT_EQ(got, want) << "in the order typed, nothing else";
        std::printf("%s: %zu typed, %zu delivered, %d marked, %lld ms\n", name, r.typed.size(),
                    want.size(), marked, MsSince(start));
    }
    Restart(); // the start settings for the cases after this one
}
