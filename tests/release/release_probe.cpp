// release_probe: what an unpacked release says about its version. Prints the version
// resource of each executable given, then starts the first one (velkor.exe), opens its
// About window from the Help menu and prints the About text's version line.
//
//   release_probe VELKOR_EXE [OTHER_EXE...]
//   -> resource NAME PRODUCTVERSION FILEVERSION   (one line per executable)
//   -> about LINE
// Exit status 0 when everything was read, 1 otherwise (with a message on stderr).
#include "app/Menuids.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

bool Fail(const std::string& why) {
    std::fprintf(stderr, "release_probe: %s\n", why.c_str());
    return false;
}

bool PrintResource(const char* path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return Fail(std::string("no version resource in ") + path);
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path, 0, size, data.data())) return Fail("cannot read it");
    auto text = [&](const char* name) -> std::string {
        char* value = nullptr;
        UINT length = 0;
        std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
        if (!VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) ||
            !value)
            return "-";
        return value;
    };
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
        return Fail("no fixed version information");
    std::string name = path;
    name = name.substr(name.find_last_of("\\/") + 1);
    std::printf("resource %s %s %s %lu.%lu.%lu.%lu\n", name.c_str(), text("ProductVersion").c_str(),
                text("FileVersion").c_str(), fixed->dwFileVersionMS >> 16,
                fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
                fixed->dwFileVersionLS & 0xFFFF);
    return true;
}

struct Search {
    DWORD Process;
    const char* Caption;
    HWND Found;
};

HWND TopWindow(DWORD process, const char* caption) {
    Search s{process, caption, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            char text[64] = {};
            GetWindowTextA(hwnd, text, sizeof text);
            if (owner != s->Process || std::string(text) != s->Caption || !IsWindowVisible(hwnd))
                return TRUE;
            s->Found = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.Found;
}

bool Present(HWND h) {
    return h != nullptr;
}
bool Present(const std::string& s) {
    return !s.empty();
}

// Calls f every 50 ms for up to 15 s until it gives something.
template <class F> auto Poll(F f) -> decltype(f()) {
    for (int i = 0; i < 300; ++i) {
        auto v = f();
        if (Present(v)) return v;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
}

bool PrintAboutLine(const char* exe) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string command = std::string("\"") + exe + "\"";
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return Fail(std::string("cannot start ") + exe);
    bool ok = false;
    HWND main = Poll([&] { return TopWindow(pi.dwProcessId, "velkor"); });
    if (!main) {
        Fail("the chat window did not appear");
    } else {
        PostMessageA(main, WM_COMMAND, velkor::menuid::About1, 0);
        HWND about = Poll([&] { return TopWindow(pi.dwProcessId, "Velkor About"); });
        // The text sits in the About window's one EDIT control.
        auto editText = [about]() -> std::string {
            std::string text;
            EnumChildWindows(
                about,
                [](HWND hwnd, LPARAM p) -> BOOL {
                    char cls[16] = {};
                    GetClassNameA(hwnd, cls, sizeof cls);
                    if (lstrcmpiA(cls, "Edit") != 0) return TRUE;
                    // GetWindowText does not ask a control of another process.
                    auto n = SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0);
                    std::string t(static_cast<std::size_t>(n) + 1, '\0');
                    n = SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(n + 1),
                                     reinterpret_cast<LPARAM>(t.data()));
                    t.resize(static_cast<std::size_t>(n));
                    *reinterpret_cast<std::string*>(p) = t;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(&text));
            return text;
        };
        std::string text = about ? Poll(editText) : std::string();
        std::size_t at = text.find("\r\nvelkor ");
        if (!about) {
            Fail("the About window did not appear");
        } else if (at == std::string::npos) {
            Fail("no version line in the About text");
        } else {
            std::string line = text.substr(at + 2, text.find('\r', at + 2) - at - 2);
            std::printf("about %s\n", line.c_str());
            ok = true;
        }
        PostMessageA(main, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 3);
        ok = Fail("velkor.exe did not end after its window was closed");
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: release_probe VELKOR_EXE [OTHER_EXE...]\n");
        return 2;
    }
    bool ok = true;
    for (int i = 1; i < argc; ++i)
        ok = PrintResource(argv[i]) && ok;
    ok = PrintAboutLine(argv[1]) && ok;
    std::fflush(stdout);
    return ok ? 0 : 1;
}
