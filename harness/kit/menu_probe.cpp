// Loaded into the running chat window by the window test to read menu check marks there:
// a process cannot look into another process's menus (GetSubMenu gives NULL across them).
// Run with CreateRemoteThread; the thread's exit code is the answer.
#include <windows.h>

namespace {

struct Search {
    const char* className;
    const char* caption; // nullptr: any
    HWND found;
};

BOOL CALLBACK FindOwnWindow(HWND hwnd, LPARAM lparam) {
    auto* s = reinterpret_cast<Search*>(lparam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[64] = "", text[64] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, text, sizeof text);
    if (pid == GetCurrentProcessId() && IsWindowVisible(hwnd) && lstrcmpA(cls, s->className) == 0 &&
        (!s->caption || lstrcmpA(text, s->caption) == 0)) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND OwnWindow(const char* className, const char* caption) {
    Search s{className, caption, nullptr};
    EnumWindows(FindOwnWindow, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

} // namespace

// arg: the command id in the low word; bit 16 set: the pop-up menu now open (the pop-up
// has no owner window to find it by). GetMenuState's result, or 0xFFFFFFFF if no menu.
extern "C" __declspec(dllexport) DWORD WINAPI ProbeMenuState(void* arg) {
    const auto value = reinterpret_cast<UINT_PTR>(arg);
    const UINT id = LOWORD(value);
    HMENU menu = nullptr;
    if (value & 0x10000) {
        if (HWND popup = OwnWindow("#32768", nullptr))
            menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
    } else if (HWND main = OwnWindow("VelkorForm", "velkor")) {
        menu = GetMenu(main);
    }
    return menu ? GetMenuState(menu, id, MF_BYCOMMAND) : 0xFFFFFFFF;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
