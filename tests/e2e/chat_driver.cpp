// chat_driver: drives the chat window of one Wine prefix for a test script. It must run in
// that prefix to see the window and its DDE service. Commands come one a line on stdin and
// each gets exactly one reply line on stdout, "ok [fields]" or "err message". Texts travel
// as hexadecimal in both directions ("-" for the empty text), so spaces, trailing blanks
// and noise bytes survive. The verbs are the table kVerbs below.
#include "app/Menuids.h"
#include "chat/Linecodec.h"
#include "crypto/Ideaunit.h"
#include "harness/kit/Hex.h"
#include "harness/kit/Pump.h"
#include "harness/kit/Velkor.h"

#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace velkor;
using namespace velkor::chat;
using namespace velkor::kit;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Failure {
    std::string message;
};

void Require(bool holds, const std::string& message) {
    if (!holds) throw Failure{message};
}

// A reply field: "-" stands for the empty text, so fields never vanish when split.
std::string Field(const std::string& bytes) {
    return test::ToHex(bytes);
}

std::string Unhex(const std::string& field) {
    const auto bytes = test::ParseHex(field);
    Require(bytes.has_value(), "bad hex");
    return *bytes;
}

// Microseconds of the host's wall clock: comparable between processes of different Wine
// prefixes (each has its own wineserver, but they share the kernel's clock).
long long HostMicroseconds() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    const ULARGE_INTEGER t{{ft.dwLowDateTime, ft.dwHighDateTime}};
    return static_cast<long long>(t.QuadPart / 10);
}

// Lines of stdin, read on a thread of their own: the main thread keeps handling its
// messages while it waits, as every thread with a window must. The driver's DDE window
// is one, and a program that broadcasts WM_DDE_INITIATE waits for each window to answer.
class StdinLines {
  public:
    StdinLines() : ready_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
        std::thread([this] {
            std::string line;
            while (std::getline(std::cin, line))
                Push(line);
            Push(std::nullopt);
        }).detach();
    }

    // The next line without its CR, or nothing at the end of input.
    std::optional<std::string> Next() {
        std::unique_lock lock(mutex_, std::defer_lock);
        const auto queued = [&] {
            lock.lock();
            const bool any = !lines_.empty();
            lock.unlock();
            return any;
        };
        if (!WaitFor(queued, std::chrono::hours(24 * 365), {milliseconds(1000), ready_}))
            return std::nullopt;
        lock.lock();
        auto line = lines_.front();
        lines_.pop_front();
        while (line && !line->empty() && line->back() == '\r')
            line->pop_back();
        return line;
    }

  private:
    void Push(std::optional<std::string> line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
        SetEvent(ready_);
    }

    HANDLE ready_;
    std::mutex mutex_;
    std::deque<std::optional<std::string>> lines_;
};

// A command's fields after its verb.
class Args {
  public:
    Args(const std::string& line, StdinLines& input) : fields_(line), input_(input) {}
    std::string Word() {
        std::string w;
        fields_ >> w;
        return w;
    }
    std::string Text() { return Unhex(Word()); }
    long long Number() {
        long long n = 0;
        fields_ >> n;
        return n;
    }
    // A further line of stdin that belongs to this command.
    std::string Line() {
        auto line = input_.Next();
        Require(line.has_value(), "end of input");
        while (!line->empty() && line->back() == ' ')
            line->pop_back();
        return *line;
    }

  private:
    std::istringstream fields_;
    StdinLines& input_;
};

struct Driver {
    Velkor& App() {
        Require(app != nullptr, "not started");
        return *app;
    }
    std::string Status() { return "ok " + Field(App().StatusText(1)); }
    std::string Setting(int menuId, const char* caption, const std::string& entry) {
        Require(App().Setting(menuId, caption, entry).has_value(),
                std::string("no dialog ") + caption + ", or it stays open");
        return Status();
    }
    long long LineCount() { return SendMessageA(App().Display(), EM_GETLINECOUNT, 0, 0); }

    std::unique_ptr<Velkor> app;
    TIDEA idea;
};

struct Verb {
    const char* name;
    const char* usage; // its arguments and its reply
    std::string (*run)(Driver& d, Args& args);
};

const Verb kVerbs[] = {
    {"start", "launch velkor.exe -> ok PID",
     [](Driver& d, Args&) {
         if (!d.app) d.app = std::make_unique<Velkor>();
         return "ok " + std::to_string(d.app->ProcessId());
     }},
    {"setkey", "HEX: the key dialog, confirmed -> ok STATUS",
     [](Driver& d, Args& a) { return d.Setting(menuid::Setkey1, "Encryption Key", a.Text()); }},
    {"channel", "HEX: the channel dialog, confirmed -> ok STATUS",
     [](Driver& d, Args& a) {
         return d.Setting(menuid::Channel1, "Monitoring Channel", a.Text());
     }},
    {"bufferlines", "N: the display size dialog, confirmed -> ok STATUS",
     [](Driver& d, Args& a) {
         return d.Setting(menuid::Bufferlines1, "Display Buffer Size", a.Word());
     }},
    {"encryption", "on|off: set the \"On\" check mark -> ok STATUS",
     [](Driver& d, Args& a) {
         Require(d.App().Encryption(a.Word() == "on"), "the check mark did not change");
         return d.Status();
     }},
    {"menu", "ID: the menu command, handled -> ok",
     [](Driver& d, Args& a) {
         d.App().Command(static_cast<int>(a.Number()));
         return std::string("ok");
     }},
    {"type", "HEX: type a line and press Enter -> ok sent | ok refused MSG",
     [](Driver& d, Args& a) {
         // A slow send (the IRC client's poke times out after 10 s) is waited out.
         if (d.App().Type(a.Text(), milliseconds(35000))) return std::string("ok sent");
         Require(d.App().MessageBoxWindow(), "not sent; input " + Field(d.App().InputText()));
         return "ok refused " + Field(d.App().MessageBoxText());
     }},
    {"burst", "N, then N lines of HEX typed one after the other -> ok SENT MILLISECONDS",
     [](Driver& d, Args& a) {
         std::vector<std::string> lines;
         for (long long i = a.Number(); i > 0; --i)
             lines.push_back(Unhex(a.Line()));
         const auto start = Clock::now();
         int sent = 0;
         while (sent < static_cast<int>(lines.size()) && d.App().Type(lines[sent]))
             ++sent;
         const auto ms = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
         return "ok " + std::to_string(sent) + " " + std::to_string(ms);
     }},
    {"dismiss", "close the message box -> ok",
     [](Driver& d, Args&) {
         Require(d.App().DismissMessageBox(), "no message box, or it stays open");
         return std::string("ok");
     }},
    {"input", "the input box's text -> ok HEX",
     [](Driver& d, Args&) { return "ok " + Field(d.App().InputText()); }},
    {"status", "the status line -> ok HEX", [](Driver& d, Args&) { return d.Status(); }},
    {"lines", "the display's lines -> ok COUNT HEX...",
     [](Driver& d, Args&) {
         const auto lines = d.App().DisplayLines();
         std::string out = "ok " + std::to_string(lines.size());
         for (const std::string& line : lines)
             out += " " + Field(line);
         return out;
     }},
    {"waitlines", "N MS: until the display shows N lines -> ok COUNT",
     [](Driver& d, Args& a) {
         const auto want = static_cast<size_t>(a.Number());
         const milliseconds ms(a.Number());
         // The control's count includes wrapped lines, so it reaches `want` first and is
         // cheap to ask; the text, read only then (at most every 200 ms), counts the chat
         // lines.
         size_t have = 0;
         auto lastRead = Clock::now() - std::chrono::seconds(1);
         const bool done = WaitFor(
             [&] {
                 if (static_cast<size_t>(d.LineCount()) < want ||
                     Clock::now() - lastRead < milliseconds(200))
                     return false;
                 lastRead = Clock::now();
                 return (have = d.App().DisplayLines().size()) >= want;
             },
             ms);
         Require(done, "timeout with " + std::to_string(d.App().DisplayLines().size()) + " lines");
         return "ok " + std::to_string(have);
     }},
    {"alive", "the window answers -> ok",
     [](Driver& d, Args&) {
         Require(d.App().Alive(), "the window does not answer");
         return std::string("ok");
     }},
    {"wire",
     "KEYHEX HEX: the codec on a line: wire text, whether the cipher bytes hold a "
     "zero, the line read back -> ok WIREHEX 0|1 BACKHEX",
     [](Driver& d, Args& a) {
         const std::string key = a.Text(), line = a.Text();
         const std::string wire = EncryptLine(d.idea, line, key);
         const bool zero = EncipherText(d.idea, line, key).find('\0') != std::string::npos;
         return "ok " + Field(wire) + (zero ? " 1 " : " 0 ") +
                Field(DecryptLine(d.idea, wire, key));
     }},
    {"typetimed", "HEX: type; the host clock (us) just before Enter -> ok T",
     [](Driver& d, Args& a) {
         d.App().SetInput(a.Text());
         const long long t = HostMicroseconds();
         d.App().PressEnter();
         Require(d.App().WaitSent(), "not sent");
         return "ok " + std::to_string(t);
     }},
    {"waitgrow",
     "COUNT MS: until the control's line count exceeds COUNT; the host clock (us) "
     "when seen, and the new count -> ok T COUNT",
     [](Driver& d, Args& a) {
         const long long count = a.Number();
         long long now = 0;
         Require(WaitFor([&] { return (now = d.LineCount()) > count; }, milliseconds(a.Number()),
                         {milliseconds(1)}),
                 "timeout at count " + std::to_string(now));
         return "ok " + std::to_string(HostMicroseconds()) + " " + std::to_string(now);
     }},
    {"linecount", "the control's line count -> ok COUNT",
     [](Driver& d, Args&) { return "ok " + std::to_string(d.LineCount()); }},
    {"twoway",
     "N PERIOD JITTER SEED HEX: types N lines \"TEXT 0001\".. with PERIOD ms +- "
     "JITTER ms between them; per line the ms from Enter to the input box emptied "
     "-> ok SENT MS,MS,...",
     [](Driver& d, Args& a) {
         const int n = static_cast<int>(a.Number()), period = static_cast<int>(a.Number()),
                   jitter = static_cast<int>(a.Number());
         std::mt19937 rng(static_cast<unsigned>(a.Number()));
         const std::string text = a.Text();
         std::uniform_int_distribution<int> gap(period - jitter, period + jitter);
         std::string times;
         int sent = 0;
         auto next = Clock::now();
         for (int i = 1; i <= n; ++i) {
             next += milliseconds(gap(rng));
             // Messages keep flowing while waiting: this thread has DDE windows too.
             WaitFor([&] { return Clock::now() >= next; }, milliseconds(60000));
             char number[16];
             std::snprintf(number, sizeof number, " %04d", i);
             d.App().SetInput(text + number);
             const auto t0 = Clock::now();
             d.App().PressEnter();
             if (!d.App().WaitSent(milliseconds(30000))) break;
             char field[32];
             std::snprintf(field, sizeof field, "%s%.1f", times.empty() ? "" : ",",
                           std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
             times += field;
             ++sent;
         }
         return "ok " + std::to_string(sent) + " " + (times.empty() ? "-" : times);
     }},
    {"place", "X Y W H: move and size the window, repainted -> ok",
     [](Driver& d, Args& a) {
         const int x = static_cast<int>(a.Number()), y = static_cast<int>(a.Number()),
                   w = static_cast<int>(a.Number()), h = static_cast<int>(a.Number());
         SetWindowPos(d.App().Main(), nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
         RedrawWindow(d.App().Main(), nullptr, nullptr,
                      RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
         d.App().Sync();
         return std::string("ok");
     }},
    {"quit", "close velkor and end -> ok",
     [](Driver& d, Args&) {
         d.app.reset();
         return std::string("ok");
     }},
};

void Reply(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char**) {
    if (argc > 1) { // --help: the verbs
        for (const Verb& v : kVerbs)
            std::printf("%-12s %s\n", v.name, v.usage);
        return 0;
    }
    timeBeginPeriod(1); // Sleep(1) between polls, not a 15 ms tick
    StdinLines input;
    Driver driver;
    while (const auto line = input.Next()) {
        Args args(*line, input);
        const std::string verb = args.Word();
        if (verb.empty()) continue;
        try {
            const auto v = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                        [&](const Verb& v) { return verb == v.name; });
            Require(v != std::end(kVerbs), "unknown command " + verb);
            Reply(v->run(driver, args));
            if (verb == "quit") return 0;
        } catch (const Failure& f) {
            Reply("err " + f.message);
        } catch (const std::exception& e) {
            Reply(std::string("err ") + e.what());
        }
    }
    return 0;
}
