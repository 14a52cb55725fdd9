// Test driver for the chat window: DDE server and client, launch, cross-process reads.
#include "window_driver.h"

#include "Menuids.h"

#include <commctrl.h>

#include <stdexcept>
#include <thread>

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return done();
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

HDDEDATA CALLBACK MircServer::Callback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data,
                                       ULONG_PTR, ULONG_PTR) {
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
    DdeInitializeA(&instance, Callback, APPCLASS_STANDARD | CBF_SKIP_REGISTRATIONS |
                                            CBF_SKIP_UNREGISTRATIONS, 0);
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
    const auto got = SendMessageA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
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
    if (lstrcmpiA(cls, s->cls) == 0 && WindowText(hwnd) == s->caption)
        s->found.push_back(hwnd);
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
        if (IsWindowVisible(h))
            visible.push_back(h);
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
        if (c == '/')
            c = '\\';
    STARTUPINFOA si{};
    si.cb = sizeof si;
    std::string command = "\"" + path + "\"";
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &info_))
        throw std::runtime_error("cannot start " + path);
    using namespace velkor;
    const bool up = WaitFor([&] {
        main_ = FindTopWindow(info_.dwProcessId, "VelkorForm", "velkor");
        if (!main_)
            return false;
        display_ = GetDlgItem(main_, controlid::Display);
        input_ = GetDlgItem(main_, controlid::InputBox);
        status_ = GetDlgItem(main_, controlid::StatusBar1);
        return display_ && input_ && status_ && IsWindowVisible(main_);
    }, std::chrono::milliseconds(20000));
    if (!up)
        throw std::runtime_error("the chat window did not appear");
    // Wait until FormCreate has run: the status line is written last.
    WaitFor([&] { return !StatusText(1).empty(); });
    DdeInitializeA(&ddeInstance_, [](UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                     ULONG_PTR) -> HDDEDATA { return nullptr; },
                   APPCMD_CLIENTONLY, 0);
}

Velkor::~Velkor() {
    if (conv_)
        DdeDisconnect(conv_);
    if (ddeInstance_)
        DdeUninitialize(ddeInstance_);
    if (main_ && IsWindow(main_))
        PostMessageA(main_, WM_CLOSE, 0, 0);
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

std::string Velkor::DisplayText() const { return WindowText(display_); }

std::vector<std::string> Velkor::DisplayLines() const {
    // Paragraphs end in CR (or CR LF); the empty position after the last break is no line.
    std::vector<std::string> lines;
    std::string current;
    const std::string text = DisplayText();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            lines.push_back(current);
            current.clear();
        } else {
            current += text[i];
        }
    }
    if (!current.empty())
        lines.push_back(current);
    return lines;
}

std::string Velkor::InputText() const { return WindowText(input_); }

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

void Velkor::Menu(int id) { PostMessageA(main_, WM_COMMAND, static_cast<WPARAM>(id), 0); }

bool Velkor::Poke(const std::string& data) {
    if (!conv_) {
        HSZ service = DdeCreateStringHandleA(ddeInstance_, "velkor", CP_WINANSI);
        conv_ = DdeConnect(ddeInstance_, service, service, nullptr);
        DdeFreeStringHandle(ddeInstance_, service);
        if (!conv_)
            return false;
    }
    HSZ item = DdeCreateStringHandleA(ddeInstance_, "NONE", CP_WINANSI);
    DWORD result = 0;
    const HDDEDATA ok = DdeClientTransaction(
        reinterpret_cast<LPBYTE>(const_cast<char*>(data.c_str())),
        static_cast<DWORD>(data.size() + 1), conv_, item, CF_TEXT, XTYP_POKE, 5000, &result);
    DdeFreeStringHandle(ddeInstance_, item);
    return ok && (result & DDE_FACK);
}
