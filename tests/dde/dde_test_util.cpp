// Shared pieces of the DDE tests.
#include "tests/dde/dde_test_util.h"

#include <cassert>

using velkor::DdeConv;
using velkor::DdeString;

namespace {

velkor::TApplication* g_app = nullptr;
// DDEML gives the callback no context: the one client instance alive is found here.
DdemlClient* g_client = nullptr;

} // namespace

velkor::TApplication& TestApplication() {
    assert(g_app);
    return *g_app;
}

void SetTestApplication(velkor::TApplication& app) {
    g_app = &app;
}

void Pump(DWORD ms) {
    velkor::TApplication::PumpUntil([] { return false; }, std::chrono::milliseconds(ms));
}

std::optional<bool> PokeAndWait(velkor::TDdeClientConv& conv, const std::string& item,
                                std::string_view text, DWORD ms) {
    std::optional<bool> outcome;
    velkor::TPokeDoneEvent before = std::move(conv.OnPokeDone);
    conv.OnPokeDone = [&](velkor::TDdeClientConv& sender, bool acknowledged) {
        if (before) before(sender, acknowledged);
        if (!outcome && sender.Pending() == 0) outcome = acknowledged;
    };
    if (conv.PokeText(item, text))
        velkor::TApplication::PumpUntil([&] { return outcome.has_value(); },
                                        std::chrono::milliseconds(ms));
    conv.OnPokeDone = std::move(before);
    return outcome;
}

DdemlClient::DdemlClient() {
    DWORD id = 0;
    if (DdeInitializeA(&id, Callback, APPCMD_CLIENTONLY, 0) == DMLERR_NO_ERROR)
        instance_ = velkor::DdeInstance(id);
    g_client = this;
}

DdemlClient::~DdemlClient() {
    instance_.reset();
    g_client = nullptr;
}

HDDEDATA CALLBACK DdemlClient::Callback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR,
                                        ULONG_PTR) {
    if (!g_client) return nullptr;
    if (type == XTYP_ADVDATA) {
        std::string bytes;
        if (data) {
            bytes.resize(DdeGetData(data, nullptr, 0, 0));
            DdeGetData(data, reinterpret_cast<BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()), 0);
        }
        g_client->advised.push_back(bytes);
        return reinterpret_cast<HDDEDATA>(DDE_FACK);
    }
    if (type == XTYP_DISCONNECT) ++g_client->disconnects;
    return nullptr;
}

DdeConv DdemlClient::Connect(const std::string& service, const std::string& topic) {
    DdeString s(Id(), service), t(Id(), topic);
    CONVCONTEXT context{};
    context.cb = sizeof context;
    context.iCodePage = CP_WINANSI;
    return DdeConv(DdeConnect(Id(), s.get(), t.get(), &context));
}

std::optional<DWORD> DdemlClient::Poke(HCONV conv, const std::string& item, std::string_view bytes,
                                       DWORD timeoutMs, UINT format) {
    DdeString i(Id(), item);
    DWORD status = 0;
    const HDDEDATA done = DdeClientTransaction(
        reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())), static_cast<DWORD>(bytes.size()),
        conv, i.get(), format, XTYP_POKE, timeoutMs, &status);
    if (!done) return std::nullopt;
    return status;
}

std::optional<std::string> DdemlClient::Request(HCONV conv, const std::string& item) {
    DdeString i(Id(), item);
    const HDDEDATA data =
        DdeClientTransaction(nullptr, 0, conv, i.get(), CF_TEXT, XTYP_REQUEST, 5000, nullptr);
    Pump(30);
    if (!data) return std::nullopt;
    std::string bytes(DdeGetData(data, nullptr, 0, 0), '\0');
    DdeGetData(data, reinterpret_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0);
    DdeFreeDataHandle(data);
    return bytes;
}

bool DdemlClient::AdviseStart(HCONV conv, const std::string& item) {
    DdeString i(Id(), item);
    return DdeClientTransaction(nullptr, 0, conv, i.get(), CF_TEXT, XTYP_ADVSTART, 5000, nullptr) !=
           nullptr;
}

bool DdemlClient::AdviseStop(HCONV conv, const std::string& item) {
    DdeString i(Id(), item);
    return DdeClientTransaction(nullptr, 0, conv, i.get(), CF_TEXT, XTYP_ADVSTOP, 5000, nullptr) !=
           nullptr;
}

std::optional<DWORD> DdemlClient::Execute(HCONV conv, const std::string& command) {
    DWORD status = 0;
    const HDDEDATA done =
        DdeClientTransaction(reinterpret_cast<BYTE*>(const_cast<char*>(command.c_str())),
                             static_cast<DWORD>(command.size() + 1), conv, nullptr, CF_TEXT,
                             XTYP_EXECUTE, 5000, &status);
    if (!done) return std::nullopt;
    return status;
}

std::string ExeDir() {
    const std::string path = velkor::ModuleFileName();
    return path.substr(0, path.find_last_of('\\') + 1);
}

std::string RunDir() {
    static const std::string dir = [] {
        char temp[MAX_PATH] = "";
        GetTempPathA(sizeof temp, temp);
        std::string path =
            std::string(temp) + "velkor-dde-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(path.c_str(), nullptr);
        return path + "\\";
    }();
    return dir;
}

std::string CopyServerApp(const std::string& fileName) {
    const std::string target = RunDir() + fileName;
    CopyFileA((ExeDir() + "dde_server_app.exe").c_str(), target.c_str(), FALSE);
    return target;
}

HelperProcess::HelperProcess(const std::string& exePath, const std::string& mode) {
    static int counter = 0;
    tag_ = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    std::string commandLine = "\"" + exePath + "\" " + tag_ + " " + mode;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessA(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        processId_ = info.dwProcessId;
    }
}

HelperProcess::~HelperProcess() {
    if (!process_) return;
    // Closing its windows lets the helper end its conversations; a killed Wine process
    // can leave windows behind that slow every later DDE broadcast.
    EnumWindows(
        [](HWND hwnd, LPARAM id) -> BOOL {
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner == static_cast<DWORD>(id)) PostMessageA(hwnd, WM_CLOSE, 0, 0);
            return TRUE;
        },
        static_cast<LPARAM>(processId_));
    if (!WaitExit(5000)) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

HANDLE HelperProcess::Event(const char* what) const {
    return CreateEventA(nullptr, TRUE, FALSE, ("velkor-test-" + tag_ + "-" + what).c_str());
}

bool HelperProcess::WaitFor(const char* what, DWORD ms) {
    HANDLE event = Event(what);
    const bool set = velkor::TApplication::PumpUntil(
        [event] { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; },
        std::chrono::milliseconds(ms));
    CloseHandle(event);
    return set;
}

void HelperProcess::Signal(const char* what) {
    HANDLE event = Event(what);
    SetEvent(event);
    CloseHandle(event);
}

std::optional<DWORD> HelperProcess::WaitExit(DWORD ms) {
    const bool ended = velkor::TApplication::PumpUntil(
        [this] { return WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; },
        std::chrono::milliseconds(ms));
    if (!ended) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}
