// Test driver for the chat window: DDE server and client, launch, cross-process reads.
#include "tests/window/window_driver.h"

#include "app/Menuids.h"

#include <commctrl.h>
#include <psapi.h>
#include <richedit.h>

#include <stdexcept>
#include <thread>

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return done();
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(2);
    }
    return true;
}

// ---- MircServer ----

MircServer::MircServer() : ready_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    instance_ = this;
    thread_ = std::thread([this] { Run(); });
    WaitForSingleObject(ready_, 10000);
}

MircServer::~MircServer() {
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    thread_.join();
    CloseHandle(ready_);
    instance_ = nullptr;
}

std::vector<std::string> MircServer::Pokes() const {
    std::lock_guard lock(mutex_);
    return pokes_;
}

size_t MircServer::Count() const {
    std::lock_guard lock(mutex_);
    return pokes_.size();
}

HDDEDATA CALLBACK MircServer::Callback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR,
                                       ULONG_PTR) {
    switch (type) {
    case XTYP_CONNECT:
        return reinterpret_cast<HDDEDATA>(TRUE);
    case XTYP_POKE: {
        DWORD size = 0;
        const auto* bytes = reinterpret_cast<const char*>(DdeAccessData(data, &size));
        std::string text(bytes, size);
        DdeUnaccessData(data);
        text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
        std::lock_guard lock(instance_->mutex_);
        instance_->pokes_.push_back(text);
        return reinterpret_cast<HDDEDATA>(DDE_FACK);
    }
    default:
        return nullptr;
    }
}

void MircServer::Run() {
    threadId_ = GetCurrentThreadId();
    DWORD instance = 0;
    DdeInitializeA(&instance, Callback,
                   APPCLASS_STANDARD | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS, 0);
    HSZ service = DdeCreateStringHandleA(instance, "mirc", CP_WINANSI);
    DdeNameService(instance, service, nullptr, DNS_REGISTER);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // the queue exists before ready
    SetEvent(ready_);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    DdeNameService(instance, service, nullptr, DNS_UNREGISTER);
    DdeFreeStringHandle(instance, service);
    DdeUninitialize(instance);
}

// ---- windows ----

std::string WindowText(HWND hwnd) {
    const auto n = SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    const auto got =
        SendMessageA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(got));
    return text;
}

namespace {

struct FindState {
    DWORD pid;
    const char* cls;
    std::string caption;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTop(HWND hwnd, LPARAM lparam) {
    auto* s = reinterpret_cast<FindState*>(lparam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[64] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    if (pid == s->pid && (!s->cls || lstrcmpA(cls, s->cls) == 0) && WindowText(hwnd) == s->caption)
        s->found.push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lparam) {
    auto* s = reinterpret_cast<FindState*>(lparam);
    char cls[64] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    if (lstrcmpiA(cls, s->cls) == 0 && WindowText(hwnd) == s->caption) s->found.push_back(hwnd);
    return TRUE;
}

} // namespace

HWND FindTopWindow(DWORD processId, const char* className, const std::string& caption) {
    FindState s{processId, className, caption, {}};
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&s));
    return s.found.empty() ? nullptr : s.found.front();
}

std::vector<HWND> FindTopWindows(DWORD processId, const std::string& caption) {
    FindState s{processId, nullptr, caption, {}};
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&s));
    std::vector<HWND> visible;
    for (HWND h : s.found)
        if (IsWindowVisible(h)) visible.push_back(h);
    return visible;
}

HWND FindChild(HWND parent, const char* className, const std::string& text) {
    FindState s{0, className, text, {}};
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&s));
    return s.found.empty() ? nullptr : s.found.front();
}

std::string ClipboardText() {
    std::string text;
    for (int i = 0; i < 50 && !OpenClipboard(nullptr); ++i)
        Sleep(10);
    if (HANDLE h = GetClipboardData(CF_TEXT)) {
        if (const auto* p = static_cast<const char*>(GlobalLock(h))) {
            text = p;
            GlobalUnlock(h);
        }
    }
    CloseClipboard();
    return text;
}

// ---- Velkor ----

Velkor::Velkor() {
    std::string path = VELKOR_EXE;
    for (char& c : path)
        if (c == '/') c = '\\';
    STARTUPINFOA si{};
    si.cb = sizeof si;
    std::string command = "\"" + path + "\"";
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &info_))
        throw std::runtime_error("cannot start " + path);
    using namespace velkor;
    const bool up = WaitFor(
        [&] {
            main_ = FindTopWindow(info_.dwProcessId, "VelkorForm", "velkor");
            if (!main_) return false;
            display_ = GetDlgItem(main_, controlid::Display);
            input_ = GetDlgItem(main_, controlid::InputBox);
            status_ = GetDlgItem(main_, controlid::StatusBar1);
            return display_ && input_ && status_ && IsWindowVisible(main_);
        },
        std::chrono::milliseconds(20000));
    if (!up) throw std::runtime_error("the chat window did not appear");
    // Wait until FormCreate has run: the status line is written last.
    WaitFor([&] { return !StatusText(1).empty(); });
    DdeInitializeA(
        &ddeInstance_,
        [](UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) -> HDDEDATA {
            return nullptr;
        },
        APPCMD_CLIENTONLY, 0);
}

Velkor::~Velkor() {
    if (conv_) DdeDisconnect(conv_);
    if (ddeInstance_) DdeUninitialize(ddeInstance_);
    if (main_ && IsWindow(main_)) PostMessageA(main_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(info_.hProcess, 5000) != WAIT_OBJECT_0)
        TerminateProcess(info_.hProcess, 3);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

std::string Velkor::StatusText(int part) const {
    constexpr SIZE_T size = 4096;
    void* remote = VirtualAllocEx(info_.hProcess, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    std::string text(size, '\0');
    // SB_GETTEXT is a WM_USER message: its pointer is not marshalled, it must be theirs.
    const LRESULT r = SendMessageA(status_, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(remote));
    SIZE_T read = 0;
    ReadProcessMemory(info_.hProcess, remote, text.data(), size, &read);
    VirtualFreeEx(info_.hProcess, remote, 0, MEM_RELEASE);
    text.resize(LOWORD(r));
    return text;
}

std::string Velkor::DisplayText() const {
    return WindowText(display_);
}

std::vector<std::string> Velkor::DisplayLines() const {
    // Paragraphs end in CR (or CR LF); the empty position after the last break is no line.
    std::vector<std::string> lines;
    std::string current;
    const std::string text = DisplayText();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.push_back(current);
            current.clear();
        } else {
            current += text[i];
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

std::string Velkor::InputText() const {
    return WindowText(input_);
}

bool Velkor::Type(const std::string& line) {
    SendMessageA(input_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(line.c_str()));
    PostMessageA(input_, WM_KEYDOWN, VK_RETURN, 1);
    HWND box = nullptr;
    WaitFor([&] {
        box = FindTopWindow(info_.dwProcessId, "#32770", "velkor");
        return box || InputText().empty();
    });
    return !box && InputText().empty();
}

void Velkor::Key(WORD vk) {
    PostMessageA(input_, WM_KEYDOWN, vk, 1);
    PostMessageA(input_, WM_KEYUP, vk, 0xC0000001);
    // A sent message would overtake the posted keys. Post a marker after them instead (a
    // left margin of 1 or 2 pixels) and wait until it shows: then the keys were handled.
    static WORD marker = 1;
    marker = marker == 1 ? 2 : 1;
    PostMessageA(input_, EM_SETMARGINS, EC_LEFTMARGIN, MAKELONG(marker, 0));
    WaitFor([&] { return LOWORD(SendMessageA(input_, EM_GETMARGINS, 0, 0)) == marker; });
}

void Velkor::Menu(int id) {
    PostMessageA(main_, WM_COMMAND, static_cast<WPARAM>(id), 0);
}

bool Velkor::Poke(const std::string& data) {
    if (!conv_) {
        HSZ service = DdeCreateStringHandleA(ddeInstance_, "velkor", CP_WINANSI);
        conv_ = DdeConnect(ddeInstance_, service, service, nullptr);
        DdeFreeStringHandle(ddeInstance_, service);
        if (!conv_) return false;
    }
    HSZ item = DdeCreateStringHandleA(ddeInstance_, "NONE", CP_WINANSI);
    DWORD result = 0;
    const HDDEDATA ok = DdeClientTransaction(
        reinterpret_cast<LPBYTE>(const_cast<char*>(data.c_str())),
        static_cast<DWORD>(data.size() + 1), conv_, item, CF_TEXT, XTYP_POKE, 5000, &result);
    DdeFreeStringHandle(ddeInstance_, item);
    return ok && (result & DDE_FACK);
}

// ---- as a person: real input and what it reached ----

void SetClipboardText(const std::string& text) {
    for (int i = 0; i < 50 && !OpenClipboard(nullptr); ++i)
        Sleep(10);
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    if (!SetClipboardData(CF_TEXT, memory)) GlobalFree(memory);
    CloseClipboard();
}

namespace {

INPUT KeyInput(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
}

void SendInputs(std::vector<INPUT> inputs) {
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Mouse events one at a time, at a hand's pace. The first is the pointer's jump to the
// place: under Wine (X11) a button pressed within some 30 ms of that jump was not seen
// at the new place, so the hand rests there first.
void SendMouse(const std::vector<INPUT>& inputs) {
    bool first = true;
    for (INPUT in : inputs) {
        SendInput(1, &in, sizeof in);
        Sleep(first ? 100 : 20);
        first = false;
    }
}

INPUT MouseInput(DWORD flags, POINT screen = {}) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    if (flags & MOUSEEVENTF_ABSOLUTE) {
        // Normalised to 0..65536 over the screen, rounded up so that it maps back exactly.
        const LONG w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
        in.mi.dx = (screen.x * 65536 + w - 1) / w;
        in.mi.dy = (screen.y * 65536 + h - 1) / h;
    }
    return in;
}

POINT ToScreen(HWND hwnd, POINT p) {
    ClientToScreen(hwnd, &p);
    return p;
}

} // namespace

void PressKey(WORD vk, std::initializer_list<WORD> held) {
    std::vector<INPUT> inputs;
    for (WORD h : held)
        inputs.push_back(KeyInput(h, false));
    inputs.push_back(KeyInput(vk, false));
    inputs.push_back(KeyInput(vk, true));
    for (auto h = std::rbegin(held); h != std::rend(held); ++h)
        inputs.push_back(KeyInput(*h, true));
    SendInputs(inputs);
}

void TypeKeys(const std::string& text) {
    for (char c : text) {
        const SHORT key = VkKeyScanA(c);
        if (HIBYTE(key) & 1)
            PressKey(LOBYTE(key), {VK_SHIFT});
        else
            PressKey(LOBYTE(key));
    }
}

void Click(HWND hwnd, POINT at, bool right) {
    const POINT s = ToScreen(hwnd, at);
    SendMouse({MouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, s),
               MouseInput(right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN),
               MouseInput(right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP)});
}

void Drag(HWND hwnd, POINT from, POINT to) {
    std::vector<INPUT> inputs{
        MouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, ToScreen(hwnd, from)),
        MouseInput(MOUSEEVENTF_LEFTDOWN)};
    constexpr int steps = 4; // a hand moves through the points between
    for (int i = 1; i <= steps; ++i) {
        const POINT p{from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps};
        inputs.push_back(MouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, ToScreen(hwnd, p)));
    }
    inputs.push_back(MouseInput(MOUSEEVENTF_LEFTUP));
    SendMouse(inputs);
}

RECT RectIn(HWND hwnd, HWND in) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    MapWindowPoints(nullptr, in, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool Velkor::Activate() {
    SetForegroundWindow(main_);
    return WaitFor([&] { return Focus() == input_; });
}

HWND Velkor::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(main_, nullptr), &info);
    return info.hwndFocus;
}

LRESULT Velkor::SendWithData(HWND hwnd, UINT msg, WPARAM wparam, void* data, size_t size) const {
    void* remote = VirtualAllocEx(info_.hProcess, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    WriteProcessMemory(info_.hProcess, remote, data, size, nullptr);
    const LRESULT r = SendMessageA(hwnd, msg, wparam, reinterpret_cast<LPARAM>(remote));
    ReadProcessMemory(info_.hProcess, remote, data, size, nullptr);
    VirtualFreeEx(info_.hProcess, remote, 0, MEM_RELEASE);
    return r;
}

POINT Velkor::CharPosition(HWND control, int index) const {
    char cls[32] = "";
    GetClassNameA(control, cls, sizeof cls);
    if (lstrcmpiA(cls, "Edit") == 0) { // the edit control answers with the point itself
        const LRESULT p = SendMessageA(control, EM_POSFROMCHAR, index, 0);
        return {static_cast<short>(LOWORD(p)), static_cast<short>(HIWORD(p))};
    }
    // The rich-text control wants a POINTL to fill (in wParam); a pointer of ours means
    // nothing in the program, so the point lives there.
    void* remote =
        VirtualAllocEx(info_.hProcess, nullptr, sizeof(POINTL), MEM_COMMIT, PAGE_READWRITE);
    SendMessageA(control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(remote), index);
    POINTL p{};
    ReadProcessMemory(info_.hProcess, remote, &p, sizeof p, nullptr);
    VirtualFreeEx(info_.hProcess, remote, 0, MEM_RELEASE);
    return {p.x, p.y};
}

DWORD Velkor::MenuState(int id, bool popup) const {
#ifndef MENU_PROBE_DLL // a build of this file without the probe (another test's)
    (void)id, (void)popup;
    return 0xFFFFFFFF;
#else
    std::string path = MENU_PROBE_DLL;
    for (char& c : path)
        if (c == '/') c = '\\';
    HMODULE local = LoadLibraryA(path.c_str());
    if (!local) return 0xFFFFFFFF;
    const auto probe = reinterpret_cast<const char*>(GetProcAddress(local, "ProbeMenuState"));
    if (!probe_) {
        // LoadLibraryA takes one argument, as a thread start does: the program loads the
        // probe on a thread of ours. Its base there is found among its modules.
        void* remote =
            VirtualAllocEx(info_.hProcess, nullptr, path.size() + 1, MEM_COMMIT, PAGE_READWRITE);
        WriteProcessMemory(info_.hProcess, remote, path.c_str(), path.size() + 1, nullptr);
        auto* load = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
        if (HANDLE t = CreateRemoteThread(info_.hProcess, nullptr, 0, load, remote, 0, nullptr)) {
            WaitForSingleObject(t, 10000);
            CloseHandle(t);
        }
        VirtualFreeEx(info_.hProcess, remote, 0, MEM_RELEASE);
        HMODULE modules[512];
        DWORD bytes = 0;
        EnumProcessModules(info_.hProcess, modules, sizeof modules, &bytes);
        for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; ++i) {
            char name[MAX_PATH] = "";
            GetModuleFileNameExA(info_.hProcess, modules[i], name, MAX_PATH);
            if (lstrcmpiA(name, path.c_str()) == 0) probe_ = modules[i];
        }
        if (!probe_) return 0xFFFFFFFF;
    }
    const auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(
        reinterpret_cast<char*>(probe_) + (probe - reinterpret_cast<const char*>(local))));
    const UINT_PTR arg = static_cast<UINT_PTR>(id) | (popup ? 0x10000 : 0);
    DWORD state = 0xFFFFFFFF;
    if (HANDLE t = CreateRemoteThread(info_.hProcess, nullptr, 0, start,
                                      reinterpret_cast<void*>(arg), 0, nullptr)) {
        WaitForSingleObject(t, 10000);
        GetExitCodeThread(t, &state);
        CloseHandle(t);
    }
    return state;
#endif
}
