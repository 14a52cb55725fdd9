// Incoming flood, start-up and working set of velkor.exe, measured from a driver in the
// same Wine prefix. Prints "name value unit" lines for bench-e2e.sh to tabulate.
//
//   flood    encrypted pokes "#velkor bob WIRE" into item NONE, each acknowledged after
//            the line is shown, into a visible chat window: pokes per second
//   naive    the same shown lines appended to a plain visible RichEdit of the same size in
//            this process, trimmed and scrolled the same way, without holding its redraw
//   startup  CreateProcess of velkor.exe to the first DdeConnect to velkor|velkor that
//            succeeds, with this process keeping the wineserver warm
//   memory   velkor's working set after start and after the flood's shown lines
//
// usage: bench_display [--flood N] [--naive N] [--launches N]
#include "app/Menuids.h"
#include "chat/Linecodec.h"
#include "crypto/Ideaunit.h"
#include "harness/kit/DdeClients.h"
#include "harness/kit/DdeServers.h"
#include "harness/kit/Desktop.h"
#include "harness/kit/Pump.h"
#include "harness/kit/Velkor.h"

#include <psapi.h>
#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace velkor;
using namespace velkor::chat;
using namespace velkor::kit;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void Report(const char* name, double value, const char* unit) {
    std::printf("%s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

const std::string kKey = "lantern at midnight";

std::vector<std::string> ShownLines(int n) {
    std::vector<std::string> lines;
    for (int i = 0; i < n; ++i)
        lines.push_back("flood line " + std::to_string(i) + " of the evening, nothing to see");
    return lines;
}

struct Memory {
    double workingSetMb = 0, peakMb = 0, privateMb = 0;
};

Memory MemoryOf(DWORD pid) {
    Memory m;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (process &&
        GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters)) {
        m.workingSetMb = counters.WorkingSetSize / 1048576.0;
        m.peakMb = counters.PeakWorkingSetSize / 1048576.0;
        m.privateMb = counters.PrivateUsage / 1048576.0;
    }
    if (process) CloseHandle(process);
    return m;
}

// The naive display: every change straight into a visible RichEdit, which repaints it.
double NaiveAppend(const std::vector<std::string>& shown, int width, int height) {
    LoadLibraryA("riched20.dll");
    HWND frame = CreateWindowExA(0, "STATIC", "naive", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                 width + 40, height + 60, nullptr, nullptr, nullptr, nullptr);
    HWND edit = CreateWindowExA(WS_EX_CLIENTEDGE, RICHEDIT_CLASSA, "",
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
                                    ES_AUTOVSCROLL | ES_DISABLENOSCROLL,
                                0, 0, width, height, frame, nullptr, nullptr, nullptr);
    HFONT font =
        CreateFontA(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Courier New");
    SendMessageA(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    SendMessageA(edit, EM_EXLIMITTEXT, 0, 2000000);
    PumpFor(0);
    const auto start = Clock::now();
    for (const std::string& line : shown) {
        const auto count = SendMessageA(edit, EM_GETLINECOUNT, 0, 0) - 1;
        if (count > 200) { // the default display size, trimmed as the chat window does
            const auto next = SendMessageA(edit, EM_LINEINDEX, 1, 0);
            SendMessageA(edit, EM_SETSEL, 0, next);
            SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
        }
        const auto before = SendMessageA(edit, EM_GETLINECOUNT, 0, 0);
        SendMessageA(edit, EM_SETSEL, -1, -1);
        const std::string text = line + "\r\n";
        SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
        SendMessageA(edit, EM_LINESCROLL, 0, SendMessageA(edit, EM_GETLINECOUNT, 0, 0) - before);
        PumpFor(0); // the next poke arrives through the message loop
    }
    const double rate = shown.size() / Seconds(Clock::now() - start);
    DestroyWindow(frame);
    DeleteObject(font);
    return rate;
}

// Launch to the first successful DdeConnect to velkor|velkor, in seconds.
double LaunchToConnect() {
    DdemlClient client;
    const auto start = Clock::now();
    Process velkor(VelkorExe());
    double seconds = -1;
    // Handling messages while it tries: the starting program broadcasts WM_DDE_INITIATE
    // for its own link, and waits until this thread's DDE window has answered it.
    if (velkor.Started() &&
        WaitFor([&] { return client.Connect(); }, std::chrono::milliseconds(20000),
                {std::chrono::milliseconds(1)})) {
        seconds = Seconds(Clock::now() - start);
        // The connect can land while the program is still inside its own start-up link; a
        // terminate posted then goes unanswered under Wine (DdeDisconnect waits its 10 s).
        // Leave once the window has shown its status line.
        WaitFor([&] {
            HWND main = FindTopWindow(velkor.Id(), "VelkorForm", "velkor");
            HWND status = main ? GetDlgItem(main, controlid::StatusBar1) : nullptr;
            return status && GetWindowTextLengthA(status) > 0;
        });
        PumpFor(200);
        client.Disconnect();
    }
    HWND main = nullptr;
    WaitFor([&] { return (main = FindTopWindow(velkor.Id(), "VelkorForm", "velkor")); });
    velkor.End(main, 10000);
    return seconds;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    int floodCount = 10000, naiveCount = 300, launches = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--flood"))
            floodCount = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--naive"))
            naiveCount = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--launches"))
            launches = std::atoi(argv[i + 1]);
    }
    timeBeginPeriod(1);
    CommandServer mirc; // the IRC client's command server, as when the user runs it

    // Start-up, with the IRC client's server answering the link.
    std::vector<double> starts;
    for (int i = 0; i < launches; ++i)
        if (const double s = LaunchToConnect(); s >= 0) starts.push_back(s);
    Report("startup_median", Median(starts) * 1000, "ms");
    Report("startup_max",
           starts.empty() ? 0 : *std::max_element(starts.begin(), starts.end()) * 1000, "ms");

    Velkor app;
    if (!app.SetKey(kKey) || !app.Encryption(true)) {
        std::fprintf(stderr, "cannot set the key\n");
        return 1;
    }
    const Memory fresh = MemoryOf(app.ProcessId());
    Report("memory_start_ws", fresh.workingSetMb, "MB");

    const auto shown = ShownLines(floodCount);
    TIDEA idea;
    std::vector<std::string> pokes;
    for (const std::string& line : shown)
        pokes.push_back("#velkor bob " + EncryptLine(idea, line, kKey));
    int acked = 0;
    const auto start = Clock::now();
    for (const std::string& poke : pokes)
        acked += app.Poke(poke) ? 1 : 0;
    const double floodRate = pokes.size() / Seconds(Clock::now() - start);
    // The same road without the display: pokes for a channel the window does not watch.
    const auto dropStart = Clock::now();
    for (int i = 0; i < 1000; ++i)
        app.Poke("#other bob " + pokes[static_cast<size_t>(i) % pokes.size()].substr(12));
    Report("flood_other_channel_rate", 1000 / Seconds(Clock::now() - dropStart), "pokes/s");
    const auto lines = app.DisplayLines();
    const bool lastShown = !lines.empty() && lines.back() == "<bob> " + shown.back();
    Report("flood_rate", floodRate, "pokes/s");
    Report("flood_acked", acked, "pokes");
    Report("flood_last_line_shown", lastShown ? 1 : 0, "bool");
    Report("display_lines_after_flood", static_cast<double>(lines.size()), "lines");
    const Memory after = MemoryOf(app.ProcessId());
    Report("memory_after_flood_ws", after.workingSetMb, "MB");
    Report("memory_after_flood_peak", after.peakMb, "MB");
    Report("memory_after_flood_private", after.privateMb, "MB");

    RECT r{};
    GetClientRect(app.Display(), &r);
    std::vector<std::string> naiveLines;
    for (int i = 0; i < naiveCount; ++i)
        naiveLines.push_back("<bob> " + shown[static_cast<size_t>(i) % shown.size()]);
    Report("naive_rate", NaiveAppend(naiveLines, r.right, r.bottom), "lines/s");
    return lastShown && acked == floodCount ? 0 : 1;
}
