// Shared pieces of the DDE tests.
#include "tests/dde/dde_test_util.h"

#include "harness/kit/Pump.h"

#include <cassert>

using velkor::kit::WaitFor;

namespace {

velkor::TApplication* g_app = nullptr;

} // namespace

velkor::TApplication& TestApplication() {
    assert(g_app);
    return *g_app;
}

void SetTestApplication(velkor::TApplication& app) {
    g_app = &app;
}

std::optional<bool> PokeAndWait(velkor::TDdeClientConv& conv, const std::string& item,
                                std::string_view text, DWORD ms) {
    std::optional<bool> outcome;
    velkor::TPokeDoneEvent before = std::move(conv.OnPokeDone);
    conv.OnPokeDone = [&](velkor::TDdeClientConv& sender, velkor::TPokeId id,
                          velkor::TPokeOutcome done) {
        if (before) before(sender, id, done);
        if (!outcome && sender.Pending() == 0) outcome = done == velkor::TPokeOutcome::Delivered;
    };
    if (conv.PokeText(item, text))
        WaitFor([&] { return outcome.has_value(); }, std::chrono::milliseconds(ms));
    conv.OnPokeDone = std::move(before);
    return outcome;
}

std::string HelperDir() {
    return VELKOR_HARNESS_DIR;
}

std::string RunDir() {
    static const std::string dir = [] {
        const std::string path = velkor::kit::TempPath("dde");
        CreateDirectoryA(path.c_str(), nullptr);
        return path + "\\";
    }();
    return dir;
}

std::string CopyServerApp(const std::string& fileName) {
    const std::string target = RunDir() + fileName;
    CopyFileA((HelperDir() + "dde_server_app.exe").c_str(), target.c_str(), FALSE);
    return target;
}

std::string HelperProcess::NextTag() {
    static int counter = 0;
    return std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

HANDLE HelperProcess::Event(const char* what) const {
    return CreateEventA(nullptr, TRUE, FALSE, ("velkor-test-" + tag_ + "-" + what).c_str());
}

bool HelperProcess::WaitEvent(const char* what, DWORD ms) {
    HANDLE event = Event(what);
    const bool set = WaitFor([event] { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; },
                             std::chrono::milliseconds(ms), {std::chrono::milliseconds(50), event});
    CloseHandle(event);
    return set;
}

void HelperProcess::Signal(const char* what) {
    HANDLE event = Event(what);
    SetEvent(event);
    CloseHandle(event);
}
