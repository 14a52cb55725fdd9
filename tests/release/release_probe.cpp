// release_probe: what an unpacked release says about its version. Prints the version
// resource of each executable given, then starts the first one (velkor.exe), opens its
// About window from the Help menu and prints the About text's version line.
//
//   release_probe VELKOR_EXE [OTHER_EXE...]
//   -> resource NAME PRODUCTVERSION FILEVERSION   (one line per executable)
//   -> about LINE
// Exit status 0 when everything was read, 1 otherwise (with a message on stderr).
#include "app/Menuids.h"
#include "harness/kit/Desktop.h"
#include "harness/kit/Pump.h"
#include "harness/kit/Velkor.h"

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace velkor;
using namespace velkor::kit;

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

bool PrintAboutLine(const char* exe) {
    std::optional<Velkor> app;
    try {
        app.emplace(exe);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    app->Menu(menuid::About1);
    std::vector<HWND> abouts;
    if (!WaitFor(
            [&] { return !(abouts = FindTopWindows(app->ProcessId(), "Velkor About")).empty(); },
            std::chrono::seconds(15)))
        return Fail("the About window did not appear");
    // The text sits in the About window's one EDIT control.
    std::string text;
    WaitFor(
        [&] {
            HWND edit = FindChild(abouts.front(), "Edit");
            return edit && !(text = WindowText(edit)).empty();
        },
        std::chrono::seconds(15));
    const std::size_t at = text.find("\r\nvelkor ");
    if (at == std::string::npos) return Fail("no version line in the About text");
    std::printf("about %s\n", text.substr(at + 2, text.find('\r', at + 2) - at - 2).c_str());
    if (!app->Quit()) return Fail("velkor.exe did not end after its window was closed");
    return true;
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
