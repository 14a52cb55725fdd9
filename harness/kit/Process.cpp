// The launcher of the Wine tests' programs.
#include "harness/kit/Process.h"

#include "harness/kit/Pump.h"

namespace velkor::kit {

namespace {

// Asks every top-level window of the process `id` to close.
BOOL CALLBACK CloseWindowOf(HWND hwnd, LPARAM id) {
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == static_cast<DWORD>(id)) PostMessageA(hwnd, WM_CLOSE, 0, 0);
    return TRUE;
}

} // namespace

Process::Process(const std::string& exe, const std::string& args, Output output) {
    std::string command = "\"" + WindowsPath(exe) + "\"" + (args.empty() ? "" : " " + args);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    UniqueFile nul;
    if (output == Output::Discard) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        nul.reset(CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                              nullptr));
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = si.hStdError = nul.get();
    }
    PROCESS_INFORMATION info{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, output == Output::Discard, 0,
                       nullptr, nullptr, &si, &info)) {
        CloseHandle(info.hThread);
        process_.reset(info.hProcess);
        id_ = info.dwProcessId;
    }
}

Process::~Process() {
    Kill();
}

void Process::End(HWND window, DWORD ms) {
    if (!Started()) return;
    if (window) {
        PostMessageA(window, WM_CLOSE, 0, 0);
    } else {
        EnumWindows(CloseWindowOf, static_cast<LPARAM>(id_));
    }
    // Handling messages: its DDE goodbye (unregistering its service) is sent to every DDE
    // window, this thread's among them.
    if (!WaitExit(ms)) Kill();
}

void Process::Kill() {
    if (Started() && TerminateProcess(Handle(), 9)) WaitForSingleObject(Handle(), 10000);
}

std::optional<DWORD> Process::WaitExit(DWORD ms) {
    if (!Started() ||
        !WaitFor([this] { return WaitForSingleObject(Handle(), 0) == WAIT_OBJECT_0; },
                 std::chrono::milliseconds(ms), {std::chrono::milliseconds(50), Handle()}))
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(Handle(), &code);
    return code;
}

std::string WindowsPath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string TempPath(const std::string& name) {
    char dir[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + "velkor-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

std::string ReadWholeFile(const std::string& path) {
    std::string text;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(f, buffer, sizeof buffer, &n, nullptr) && n > 0)
        text.append(buffer, n);
    CloseHandle(f);
    return text;
}

} // namespace velkor::kit
