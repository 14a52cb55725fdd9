// The Windows side of scripts/soak.sh, in the prefix where velkor runs:
//   soak_probe wait SECONDS             until the chat window is up
//   soak_probe stats                    one line: working set, private bytes, handles, GDI
//                                       and USER objects, display length of velkor
//   soak_probe type SECONDS MS          types a numbered line into velkor every MS
//   soak_probe say SERVICE SECONDS MS   pokes "/msg #velkor ..." into an IRC client's
//                                       command topic every MS (the other user talking)
//   soak_probe flood SECONDS            pokes velkor's NONE as fast as it answers, with a
//                                       share of hostile pokes; prints what was acked
//   soak_probe linger TAG               opens a conversation to velkor as mIRC's remote
//                                       event does, pokes "#velkor linger TAG", prints
//                                       "poked" and keeps it open until killed
#include "app/Menuids.h"
#include "harness/kit/DdeClients.h"
#include "harness/kit/Desktop.h"
#include "harness/kit/Pump.h"

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace velkor;
using namespace velkor::kit;

namespace {

HWND ChatWindow() {
    return FindWindowA("VelkorForm", "velkor");
}

DWORD Deadline(const char* seconds) {
    return GetTickCount() + 1000u * std::atoi(seconds);
}

bool Before(DWORD deadline) {
    return static_cast<LONG>(deadline - GetTickCount()) > 0;
}

int Wait(const char* seconds) {
    const bool up = WaitFor(
        [] {
            HWND w = ChatWindow();
            return w && IsWindowVisible(w) && GetDlgItem(w, controlid::InputBox);
        },
        std::chrono::seconds(std::atoi(seconds)), {std::chrono::milliseconds(100)});
    std::puts(up ? "up" : "no chat window");
    return up ? 0 : 1;
}

int Stats() {
    HWND w = ChatWindow();
    DWORD pid = 0;
    if (!w || !GetWindowThreadProcessId(w, &pid)) {
        std::puts("no chat window");
        return 1;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) {
        std::printf("cannot open process %lu\n", pid);
        return 1;
    }
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                         sizeof memory);
    // Wine leaves PrivateUsage at 0: add up the committed private regions instead.
    SIZE_T privateBytes = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (auto* at = static_cast<const char*>(nullptr);
         VirtualQueryEx(process, at, &region, sizeof region) == sizeof region;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            privateBytes += region.RegionSize;
    }
    // Wine answers 0 for another process's handle and GUI object counts; the windows of
    // the process (DDEML's conversation windows among them) are counted here.
    DWORD handles = 0;
    GetProcessHandleCount(process, &handles);
    const DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
    const DWORD user = GetGuiResources(process, GR_USEROBJECTS);
    const LRESULT display = SendMessageA(GetDlgItem(w, controlid::Display), WM_GETTEXTLENGTH, 0, 0);
    std::printf("working_set_kb=%zu private_kb=%zu handles=%lu gdi=%lu user=%lu windows=%d "
                "display=%ld\n",
                memory.WorkingSetSize / 1024, privateBytes / 1024, handles, gdi, user,
                ProcessWindows(pid), static_cast<long>(display));
    CloseHandle(process);
    return 0;
}

int Type(const char* seconds, const char* intervalMs) {
    const DWORD end = Deadline(seconds);
    const DWORD interval = static_cast<DWORD>(std::atoi(intervalMs));
    int typed = 0, stuck = 0;
    while (Before(end)) {
        HWND w = ChatWindow();
        HWND box = w ? GetDlgItem(w, controlid::InputBox) : nullptr;
        if (!box) break;
        const std::string line = "alice line " + std::to_string(typed + 1);
        SendMessageA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(line.c_str()));
        PostMessageA(box, WM_KEYDOWN, VK_RETURN, 1);
        if (WaitFor([box] { return GetWindowTextLengthA(box) == 0; }, std::chrono::seconds(15),
                    {std::chrono::milliseconds(5)}))
            ++typed;
        else
            ++stuck;
        PumpFor(interval);
    }
    std::printf("typed=%d stuck=%d\n", typed, stuck);
    return 0;
}

int Say(const char* service, const char* seconds, const char* intervalMs) {
    const DWORD end = Deadline(seconds);
    const DWORD interval = static_cast<DWORD>(std::atoi(intervalMs));
    DdemlClient client;
    int said = 0, refused = 0;
    while (Before(end)) {
        if (!client.Conv() && !client.Connect(service, "command")) {
            PumpFor(200);
            continue;
        }
        const std::string command = "/msg #velkor bob line " + std::to_string(said + 1) + '\0';
        if (client.Poke("\"\"", command, CF_TEXT, 10000).Acked())
            ++said;
        else
            ++refused, client.Disconnect();
        PumpFor(interval);
    }
    std::printf("said=%d refused=%d\n", said, refused);
    return 0;
}

int Flood(const char* seconds) {
    const DWORD end = Deadline(seconds);
    DdemlClient client;
    RawDdeClient raw;
    long acked = 0, refused = 0, failed = 0, i = 0;
    while (Before(end)) {
        if (!client.Conv() && !client.Connect()) {
            PumpFor(100);
            continue;
        }
        ++i;
        TransactionResult r;
        switch (i % 10) {
        case 3: // another channel
            r = client.Poke("NONE", "#other flood " + std::to_string(i) + '\0');
            break;
        case 5: // a long line
            r = client.Poke("NONE", "#velkor flood " + std::string(3000, 'L') + '\0');
            break;
        case 7: // bytes of every value, no zero byte
        {
            std::string bytes = "#velkor flood ";
            for (int b = 1; b < 256; ++b)
                bytes.push_back(static_cast<char>(b));
            r = client.Poke("NONE", bytes);
            break;
        }
        case 9: // an unknown item, then the empty item through raw messages
            client.Poke("NOTHING", "#velkor flood lost\0");
            if (raw.Initiate()) {
                const auto reply = raw.Poke("", "#velkor flood raw " + std::to_string(i));
                r.returned = reply.has_value();
                r.status = reply ? reply->status : 0;
                raw.Terminate();
            }
            break;
        default:
            r = client.Poke("NONE", "#velkor flood " + std::to_string(i) + '\0');
        }
        if (r.Acked())
            ++acked;
        else if (r.returned)
            ++refused;
        else
            ++failed, client.Disconnect();
        // Conversations come and go too.
        if (i % 500 == 0) client.Disconnect();
    }
    std::printf("pokes=%ld acked=%ld refused=%ld failed=%ld\n", i, acked, refused, failed);
    return 0;
}

int Linger(const char* tag) {
    RawDdeClient client;
    if (!client.Initiate()) {
        std::puts("no velkor");
        return 1;
    }
    const auto reply = client.Poke("", std::string("#velkor linger ") + tag + '\0');
    std::puts(reply && (reply->status & 0x8000) ? "poked" : "refused");
    std::fflush(stdout);
    PumpFor(600000);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "wait" && argc == 3) return Wait(argv[2]);
    if (mode == "stats") return Stats();
    if (mode == "type" && argc == 4) return Type(argv[2], argv[3]);
    if (mode == "say" && argc == 5) return Say(argv[2], argv[3], argv[4]);
    if (mode == "flood" && argc == 3) return Flood(argv[2]);
    if (mode == "linger" && argc == 3) return Linger(argv[2]);
    std::fputs("usage: soak_probe wait S | stats | type S MS | say SERVICE S MS | flood S | "
               "linger TAG\n",
               stderr);
    return 2;
}
