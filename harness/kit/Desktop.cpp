// Windows, clipboard, real input and remote memory for the Wine tests.
#include "harness/kit/Desktop.h"

#include <cstring>

namespace velkor::kit {

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
    int count = 0;
    bool any = false; // any caption
};

bool HasClass(HWND hwnd, const char* cls) {
    char name[64] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return !cls || lstrcmpiA(name, cls) == 0;
}

DWORD ProcessOf(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

BOOL CALLBACK CollectTop(HWND hwnd, LPARAM lparam) {
    auto* s = reinterpret_cast<FindState*>(lparam);
    if (ProcessOf(hwnd) == s->pid && HasClass(hwnd, s->cls) && WindowText(hwnd) == s->caption)
        s->found.push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lparam) {
    auto* s = reinterpret_cast<FindState*>(lparam);
    if (HasClass(hwnd, s->cls) && (s->any || WindowText(hwnd) == s->caption))
        s->found.push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK CountChild(HWND, LPARAM state) {
    ++reinterpret_cast<FindState*>(state)->count;
    return TRUE;
}

BOOL CALLBACK CountTop(HWND hwnd, LPARAM state) {
    auto* s = reinterpret_cast<FindState*>(state);
    if (ProcessOf(hwnd) == s->pid) {
        ++s->count;
        EnumChildWindows(hwnd, CountChild, state);
    }
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

HWND FindChild(HWND parent, const char* className) {
    FindState s{0, className, {}, {}};
    s.any = true;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&s));
    return s.found.empty() ? nullptr : s.found.front();
}

int ProcessWindows(DWORD processId) {
    FindState s{processId, nullptr, {}, {}};
    EnumWindows(CountTop, reinterpret_cast<LPARAM>(&s));
    return s.count;
}

RECT RectIn(HWND hwnd, HWND in) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    MapWindowPoints(nullptr, in, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

namespace {

void OpenClipboardSoon() {
    for (int i = 0; i < 50 && !OpenClipboard(nullptr); ++i)
        Sleep(10);
}

} // namespace

std::string ClipboardText() {
    std::string text;
    OpenClipboardSoon();
    if (HANDLE h = GetClipboardData(CF_TEXT)) {
        if (const auto* p = static_cast<const char*>(GlobalLock(h))) {
            text = p;
            GlobalUnlock(h);
        }
    }
    CloseClipboard();
    return text;
}

void SetClipboardText(const std::string& text) {
    OpenClipboardSoon();
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
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

INPUT MoveTo(HWND hwnd, POINT p) {
    ClientToScreen(hwnd, &p);
    return MouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, p);
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
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
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
    SendMouse({MoveTo(hwnd, at), MouseInput(right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN),
               MouseInput(right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP)});
}

void Drag(HWND hwnd, POINT from, POINT to) {
    std::vector<INPUT> inputs{MoveTo(hwnd, from), MouseInput(MOUSEEVENTF_LEFTDOWN)};
    constexpr int steps = 4; // a hand moves through the points between
    for (int i = 1; i <= steps; ++i)
        inputs.push_back(MoveTo(
            hwnd, {from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps}));
    inputs.push_back(MouseInput(MOUSEEVENTF_LEFTUP));
    SendMouse(inputs);
}

RemoteMemory::RemoteMemory(HANDLE process, SIZE_T size)
    : process_(process),
      address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) {}

RemoteMemory::~RemoteMemory() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
}

void RemoteMemory::Write(const void* data, SIZE_T size) {
    WriteProcessMemory(process_, address_, data, size, nullptr);
}

void RemoteMemory::Read(void* data, SIZE_T size) const {
    SIZE_T read = 0;
    ReadProcessMemory(process_, address_, data, size, &read);
}

} // namespace velkor::kit
