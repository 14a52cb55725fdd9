// chat_driver: drives the chat window of one Wine prefix for a test script. It must run in
// that prefix to see the window and its DDE service. Commands come one a line on stdin and
// each gets exactly one reply line on stdout, "ok [fields]" or "err message". Texts travel
// as hexadecimal in both directions ("-" for the empty text), so spaces, trailing blanks
// and noise bytes survive.
//
//   start                      launch velkor.exe               -> ok PID
//   setkey HEX | channel HEX   settings dialogs, confirmed     -> ok STATUS
//   bufferlines N              the display size dialog         -> ok STATUS
//   encryption on|off          set the "On" check mark         -> ok STATUS
//   menu ID                    post a menu command             -> ok
//   type HEX                   type a line and press Enter     -> ok sent | ok refused MSG
//   burst N                    then N lines of HEX, typed one after the other
//                                                              -> ok SENT MILLISECONDS
//   dismiss                    close the message box           -> ok
//   input | status             input box / status line text    -> ok HEX
//   lines                      display lines                   -> ok COUNT HEX...
//   waitlines N MS             until the display shows N lines -> ok COUNT | err ...
//   alive                      the window answers              -> ok
//   wire KEYHEX HEX            the codec on a line: wire text, whether the cipher bytes
//                              hold a zero, the line read back -> ok WIREHEX 0|1 BACKHEX
//   typetimed HEX              type; the host clock (us) just before Enter -> ok T
//   waitgrow COUNT MS          until the control's line count exceeds COUNT; the host
//                              clock (us) when seen, and the new count -> ok T COUNT
//   linecount                  the control's line count        -> ok COUNT
//   twoway N PERIOD JITTER SEED HEX
//                              types N lines "TEXT 0001".. with PERIOD ms +- JITTER ms
//                              between them; per line the ms from Enter to the input
//                              box emptied                     -> ok SENT MS,MS,...
//   place X Y W H              move and size the window, repainted -> ok
//   quit                       close velkor and end            -> ok
#include "tests/window/window_driver.h"

#include "app/Menuids.h"
#include "app/chat/Linecodec.h"
#include "crypto/Ideaunit.h"

#include <richedit.h>

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

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// A reply field: "-" stands for the empty text, so fields never vanish when split.
std::string Field(const std::string& bytes) {
    return bytes.empty() ? "-" : Hex(bytes);
}

std::optional<std::string> Unhex(const std::string& hex) {
    if (hex.size() % 2) return std::nullopt;
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = value(hex[i]), lo = value(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi << 4 | lo);
    }
    return out;
}

// Microseconds of the host's wall clock: comparable between processes of different Wine
// prefixes (each has its own wineserver, but they share the kernel's clock).
long long HostMicroseconds() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    const ULARGE_INTEGER t{{ft.dwLowDateTime, ft.dwHighDateTime}};
    return static_cast<long long>(t.QuadPart / 10);
}

void Reply(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

struct Failure {
    std::string message;
};

std::string ReadLine(); // the next line of stdin

class Driver {
  public:
    std::string Handle(const std::string& verb, std::istringstream& args);

  private:
    Velkor& App() {
        if (!app_) throw Failure{"not started"};
        return *app_;
    }
    std::string Text(std::istringstream& args) {
        std::string hex;
        args >> hex;
        const auto text = Unhex(hex == "-" ? "" : hex);
        if (!text) throw Failure{"bad hex"};
        return *text;
    }
    void Dialog(int menuId, const char* caption, const std::string& entry);
    std::string Type(const std::string& line);
    HWND MessageBoxWindow() { return FindTopWindow(App().ProcessId(), "#32770", "velkor"); }
    long long LineCount() { return SendMessageA(App().Display(), EM_GETLINECOUNT, 0, 0); }

    std::unique_ptr<Velkor> app_;
    TIDEA idea_;
};

void Driver::Dialog(int menuId, const char* caption, const std::string& entry) {
    App().Menu(menuId);
    HWND dialog = nullptr;
    if (!WaitFor([&] { return (dialog = FindTopWindow(App().ProcessId(), "#32770", caption)); },
                 std::chrono::milliseconds(15000)))
        throw Failure{std::string("no dialog ") + caption};
    HWND field = GetDlgItem(dialog, 100);
    if (!field) throw Failure{"no edit field"};
    SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    if (!WaitFor([&] { return !IsWindow(dialog); }, std::chrono::milliseconds(15000)))
        throw Failure{"the dialog stays open"};
    SendMessageA(App().Main(), WM_NULL, 0, 0); // the handler's last step has run
}

std::string Driver::Type(const std::string& line) {
    if (App().Type(line)) return "ok sent";
    if (HWND box = MessageBoxWindow()) {
        // The message box's text is its static control 0xFFFF.
        return "ok refused " + Field(WindowText(GetDlgItem(box, 0xFFFF)));
    }
    // A slow send (the IRC client's poke times out after 10 s): wait it out.
    HWND box = nullptr;
    WaitFor([&] { return (box = MessageBoxWindow()) || App().InputText().empty(); },
            std::chrono::milliseconds(30000));
    if (box) return "ok refused " + Field(WindowText(GetDlgItem(box, 0xFFFF)));
    if (App().InputText().empty()) return "ok sent";
    return "err not sent; input " + Field(App().InputText());
}

std::string Driver::Handle(const std::string& verb, std::istringstream& args) {
    if (verb == "start") {
        if (!app_) app_ = std::make_unique<Velkor>();
        return "ok " + std::to_string(app_->ProcessId());
    }
    if (verb == "setkey") {
        Dialog(menuid::Setkey1, "Encryption Key", Text(args));
        return "ok " + Field(App().StatusText(1));
    }
    if (verb == "channel") {
        Dialog(menuid::Channel1, "Monitoring Channel", Text(args));
        return "ok " + Field(App().StatusText(1));
    }
    if (verb == "bufferlines") {
        std::string n;
        args >> n;
        Dialog(menuid::Bufferlines1, "Display Buffer Size", n);
        return "ok " + Field(App().StatusText(1));
    }
    if (verb == "encryption") {
        std::string want;
        args >> want;
        const bool on = App().StatusText(1).ends_with("Encryption: On");
        if (on != (want == "on")) {
            App().Menu(menuid::On1);
            const std::string tail = want == "on" ? "Encryption: On" : "Encryption: Off";
            if (!WaitFor([&] { return App().StatusText(1).ends_with(tail); }))
                throw Failure{"the check mark did not change"};
        }
        return "ok " + Field(App().StatusText(1));
    }
    if (verb == "menu") {
        int id = 0;
        args >> id;
        App().Menu(id);
        SendMessageA(App().Main(), WM_NULL, 0, 0); // posted before: handled by now
        return "ok";
    }
    if (verb == "type") return Type(Text(args));
    if (verb == "typetimed") {
        const std::string line = Text(args);
        SendMessageA(App().InputBox(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(line.c_str()));
        const long long t = HostMicroseconds();
        PostMessageA(App().InputBox(), WM_KEYDOWN, VK_RETURN, 1);
        if (!WaitFor([&] { return App().InputText().empty(); }, std::chrono::milliseconds(15000)))
            throw Failure{"not sent"};
        return "ok " + std::to_string(t);
    }
    if (verb == "burst") {
        int n = 0;
        args >> n;
        std::vector<std::string> lines;
        for (int i = 0; i < n; ++i) {
            std::string hex = ReadLine();
            while (!hex.empty() && (hex.back() == '\r' || hex.back() == ' '))
                hex.pop_back();
            const auto line = Unhex(hex == "-" ? "" : hex);
            if (!line) throw Failure{"bad hex in burst line " + std::to_string(i)};
            lines.push_back(*line);
        }
        const auto start = std::chrono::steady_clock::now();
        int sent = 0;
        for (const std::string& line : lines) {
            if (!App().Type(line)) break;
            ++sent;
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        return "ok " + std::to_string(sent) + " " + std::to_string(ms);
    }
    if (verb == "dismiss") {
        HWND box = MessageBoxWindow();
        if (!box) throw Failure{"no message box"};
        PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        if (!WaitFor([&] { return !IsWindow(box); })) throw Failure{"the message box stays open"};
        return "ok";
    }
    if (verb == "input") return "ok " + Field(App().InputText());
    if (verb == "status") return "ok " + Field(App().StatusText(1));
    if (verb == "lines") {
        const auto lines = App().DisplayLines();
        std::string out = "ok " + std::to_string(lines.size());
        for (const std::string& line : lines)
            out += " " + Field(line);
        return out;
    }
    if (verb == "waitlines") {
        size_t want = 0;
        int ms = 0;
        args >> want >> ms;
        // The control's count includes wrapped lines, so it reaches `want` first and is
        // cheap to ask; the text, read only then, counts the chat lines.
        size_t have = 0;
        auto lastRead = std::chrono::steady_clock::now() - std::chrono::seconds(1);
        const bool done = WaitFor(
            [&] {
                if (static_cast<size_t>(LineCount()) < want) return false;
                if (std::chrono::steady_clock::now() - lastRead < std::chrono::milliseconds(200))
                    return false;
                lastRead = std::chrono::steady_clock::now();
                have = App().DisplayLines().size();
                return have >= want;
            },
            std::chrono::milliseconds(ms));
        if (!done)
            return "err timeout with " + std::to_string(App().DisplayLines().size()) + " lines";
        return "ok " + std::to_string(have);
    }
    if (verb == "twoway") {
        int n = 0, period = 0, jitter = 0;
        unsigned seed = 0;
        args >> n >> period >> jitter >> seed;
        const std::string text = Text(args);
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> gap(period - jitter, period + jitter);
        std::string times;
        int sent = 0;
        auto next = std::chrono::steady_clock::now();
        for (int i = 1; i <= n; ++i) {
            next += std::chrono::milliseconds(gap(rng));
            // Messages keep flowing while waiting: this thread has DDE windows too.
            WaitFor([&] { return std::chrono::steady_clock::now() >= next; },
                    std::chrono::milliseconds(60000));
            char line[32];
            std::snprintf(line, sizeof line, " %04d", i);
            const std::string typed = text + line;
            SendMessageA(App().InputBox(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
            const auto t0 = std::chrono::steady_clock::now();
            PostMessageA(App().InputBox(), WM_KEYDOWN, VK_RETURN, 1);
            if (!WaitFor([&] { return App().InputText().empty(); },
                         std::chrono::milliseconds(30000)))
                break;
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                    .count();
            char field[32];
            std::snprintf(field, sizeof field, "%s%.1f", times.empty() ? "" : ",", ms);
            times += field;
            ++sent;
        }
        return "ok " + std::to_string(sent) + " " + (times.empty() ? "-" : times);
    }
    if (verb == "linecount") return "ok " + std::to_string(LineCount());
    if (verb == "waitgrow") {
        long long count = 0;
        int ms = 0;
        args >> count >> ms;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            const long long now = LineCount();
            if (now > count)
                return "ok " + std::to_string(HostMicroseconds()) + " " + std::to_string(now);
            if (std::chrono::steady_clock::now() > deadline)
                return "err timeout at count " + std::to_string(now);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
        }
    }
    if (verb == "alive") {
        DWORD_PTR result = 0;
        if (!IsWindow(App().Main()) ||
            !SendMessageTimeoutA(App().Main(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result))
            throw Failure{"the window does not answer"};
        return "ok";
    }
    if (verb == "wire") {
        const std::string key = Text(args), line = Text(args);
        const std::string wire = EncryptLine(idea_, line, key);
        const std::string cipher = EncipherText(idea_, line, key);
        const bool zero = cipher.find('\0') != std::string::npos;
        return "ok " + Field(wire) + " " + (zero ? "1" : "0") + " " +
               Field(DecryptLine(idea_, wire, key));
    }
    if (verb == "place") {
        int x = 0, y = 0, w = 0, h = 0;
        args >> x >> y >> w >> h;
        SetWindowPos(App().Main(), nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
        RedrawWindow(App().Main(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        SendMessageA(App().Main(), WM_NULL, 0, 0);
        return "ok";
    }
    if (verb == "quit") {
        app_.reset();
        return "ok";
    }
    throw Failure{"unknown command " + verb};
}

// Lines of stdin, read on a thread of their own: the main thread keeps pumping its
// messages while it waits, as every thread with a window must. The driver's DDE window
// is one, and a program that broadcasts WM_DDE_INITIATE waits for each window to answer.
class StdinLines {
  public:
    StdinLines() : ready_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
        std::thread([this] {
            std::string line;
            while (std::getline(std::cin, line))
                Push(std::optional<std::string>(line));
            Push(std::nullopt);
        }).detach();
    }

    // The next line, or nullopt at the end of input.
    std::optional<std::string> Next() {
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (!lines_.empty()) {
                    auto line = lines_.front();
                    lines_.pop_front();
                    return line;
                }
            }
            MsgWaitForMultipleObjects(1, &ready_, FALSE, INFINITE, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
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

StdinLines* g_input = nullptr;

std::string ReadLine() {
    auto line = g_input->Next();
    if (!line) throw Failure{"end of input"};
    return *line;
}

} // namespace

int main() {
    timeBeginPeriod(1); // Sleep(1) between polls, not a 15 ms tick
    StdinLines input;
    g_input = &input;
    Driver driver;
    while (const auto next = input.Next()) {
        std::string line = *next;
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty()) continue;
        std::istringstream args(line);
        std::string verb;
        args >> verb;
        try {
            const std::string reply = driver.Handle(verb, args);
            Reply(reply);
            if (verb == "quit") return 0;
        } catch (const Failure& f) {
            Reply("err " + f.message);
        } catch (const std::exception& e) {
            Reply(std::string("err ") + e.what());
        }
    }
    return 0;
}
