// The chat window driven from another process.
#include "harness/kit/Velkor.h"

#include "app/Menuids.h"
#include "harness/kit/Desktop.h"
#include "harness/kit/Pump.h"
#include "win/Inputquery.h"

#include <commctrl.h>
#include <psapi.h>
#include <richedit.h>

#include <stdexcept>

namespace velkor::kit {

using std::chrono::milliseconds;

std::string VelkorExe() {
    return VELKOR_EXE;
}

Velkor::Velkor(const std::string& exe) : process_(exe.empty() ? VelkorExe() : exe) {
    if (!process_.Started()) throw std::runtime_error("cannot start velkor " + exe);
    const bool up = WaitFor(
        [&] {
            main_ = FindTopWindow(ProcessId(), "VelkorForm", "velkor");
            if (!main_) return false;
            display_ = GetDlgItem(main_, controlid::Display);
            input_ = GetDlgItem(main_, controlid::InputBox);
            status_ = GetDlgItem(main_, controlid::StatusBar1);
            return display_ && input_ && status_ && IsWindowVisible(main_);
        },
        milliseconds(20000));
    if (!up) throw std::runtime_error("the chat window did not appear");
    // Start-up has run once the status line is written: it is written last.
    WaitFor([&] { return !StatusText(1).empty(); });
    poker_.emplace();
}

Velkor::~Velkor() {
    poker_.reset();
    process_.End(main_ && IsWindow(main_) ? main_ : nullptr);
}

bool Velkor::Quit(DWORD ms) {
    poker_.reset();
    PostMessageA(main_, WM_CLOSE, 0, 0);
    return process_.WaitExit(ms).has_value();
}

std::string Velkor::StatusText(int part) const {
    // SB_GETTEXT is a WM_USER message: its pointer is not marshalled, it must be theirs.
    std::string text(4096, '\0');
    RemoteMemory remote(Handle(), text.size());
    const LRESULT r = SendMessageA(status_, SB_GETTEXTA, part, remote.Param());
    remote.Read(text.data(), text.size());
    text.resize(LOWORD(r));
    return text;
}

std::string Velkor::DisplayText() const {
    return WindowText(display_);
}

std::vector<std::string> Velkor::DisplayLines() const {
    // Paragraphs end in CR (or CR LF).
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

std::size_t Velkor::DisplayLength() const {
    return static_cast<std::size_t>(SendMessageA(display_, WM_GETTEXTLENGTH, 0, 0));
}

std::size_t Velkor::StoredLength() const {
    // EM_GETTEXTLENGTHEX is a WM_USER message: its structure must be in the program.
    const GETTEXTLENGTHEX how{GTL_NUMCHARS | GTL_PRECISE, CP_ACP};
    RemoteMemory remote(Handle(), sizeof how);
    remote.Write(&how, sizeof how);
    const LRESULT length =
        SendMessageA(display_, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(remote.Address()), 0);
    return length > 0 ? static_cast<std::size_t>(length) : 0;
}

bool Velkor::Alive(DWORD ms) const {
    DWORD_PTR result = 0;
    return main_ && IsWindow(main_) &&
           SendMessageTimeoutA(main_, WM_NULL, 0, 0, SMTO_NORMAL, ms, &result) != 0;
}

void Velkor::Sync() const {
    Alive(30000);
}

void Velkor::SetInput(const std::string& text) {
    SendMessageA(input_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Velkor::PressEnter() {
    PostMessageA(input_, WM_KEYDOWN, VK_RETURN, 1);
}

void Velkor::Enter(const std::string& line) {
    SetInput(line);
    PressEnter();
}

bool Velkor::WaitSent(milliseconds timeout) const {
    return WaitFor([&] { return InputText().empty(); }, timeout);
}

bool Velkor::Type(const std::string& line, milliseconds timeout) {
    Enter(line);
    HWND box = nullptr;
    WaitFor(
        [&] {
            box = MessageBoxWindow();
            return box || InputText().empty();
        },
        timeout);
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

void Velkor::Command(int id) {
    Menu(id);
    Sync();
}

bool Velkor::Poke(const std::string& data) {
    if (!poker_->Conv() && !poker_->Connect()) return false;
    return poker_->Poke("NONE", data + '\0').Acked();
}

std::optional<Velkor::Field> Velkor::Setting(int menuId, const char* caption,
                                             const std::string& entry, bool confirm,
                                             const std::function<void(HWND dialog)>& whileOpen) {
    Menu(menuId);
    HWND dialog = nullptr, field = nullptr;
    // FindWindow can answer before the dialog's controls exist.
    if (!WaitFor(
            [&] {
                dialog = FindTopWindow(ProcessId(), "#32770", caption);
                return dialog && (field = GetDlgItem(dialog, InputQueryFieldId));
            },
            milliseconds(15000)))
        return std::nullopt;
    const LRESULT selection = SendMessageA(field, EM_GETSEL, 0, 0);
    const Field seen{WindowText(field), LOWORD(selection), HIWORD(selection),
                     static_cast<int>(SendMessageA(field, EM_GETLIMITTEXT, 0, 0))};
    SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    if (whileOpen) whileOpen(dialog);
    PostMessageA(GetDlgItem(dialog, confirm ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
    if (!WaitFor([&] { return !IsWindow(dialog); }, milliseconds(15000))) return std::nullopt;
    Sync(); // the handler's last step (the status line) has run
    return seen;
}

bool Velkor::SetKey(const std::string& key) {
    return Setting(menuid::Setkey1, "Encryption Key", key).has_value();
}

bool Velkor::Encryption(bool on) {
    const auto shown = [&] {
        return StatusText(1).ends_with(on ? "Encryption: On" : "Encryption: Off");
    };
    if (shown()) return true;
    Menu(menuid::On1);
    return WaitFor(shown);
}

HWND Velkor::MessageBoxWindow() const {
    return FindTopWindow(ProcessId(), "#32770", "velkor");
}

std::string Velkor::MessageBoxText() const {
    HWND box = MessageBoxWindow();
    return box ? WindowText(GetDlgItem(box, 0xFFFF)) : ""; // its static control 0xFFFF
}

bool Velkor::DismissMessageBox() {
    HWND box = MessageBoxWindow();
    if (!box) return false;
    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    return WaitFor([&] { return !IsWindow(box); });
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
    RemoteMemory remote(Handle(), size);
    remote.Write(data, size);
    const LRESULT r = SendMessageA(hwnd, msg, wparam, remote.Param());
    remote.Read(data, size);
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
    RemoteMemory remote(Handle(), sizeof(POINTL));
    SendMessageA(control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(remote.Address()), index);
    POINTL p{};
    remote.Read(&p, sizeof p);
    return {p.x, p.y};
}

DWORD Velkor::MenuState(int id, bool popup) const {
    const std::string path = WindowsPath(MENU_PROBE_DLL);
    const UniqueModule local(LoadLibraryA(path.c_str()));
    if (!local) return 0xFFFFFFFF;
    const auto probe = reinterpret_cast<const char*>(GetProcAddress(local.get(), "ProbeMenuState"));
    if (!probe_) {
        // LoadLibraryA takes one argument, as a thread start does: the program loads the
        // probe on a thread of ours. Its base there is found among its modules.
        RemoteMemory name(Handle(), path.size() + 1);
        name.Write(path.c_str(), path.size() + 1);
        auto* load = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
        if (const KernelHandle t{
                CreateRemoteThread(Handle(), nullptr, 0, load, name.Address(), 0, nullptr)})
            WaitForSingleObject(t.get(), 10000);
        HMODULE modules[512];
        DWORD bytes = 0;
        EnumProcessModules(Handle(), modules, sizeof modules, &bytes);
        for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; ++i) {
            char file[MAX_PATH] = "";
            GetModuleFileNameExA(Handle(), modules[i], file, MAX_PATH);
            if (lstrcmpiA(file, path.c_str()) == 0) probe_ = modules[i];
        }
        if (!probe_) return 0xFFFFFFFF;
    }
    const auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(
        reinterpret_cast<char*>(probe_) + (probe - reinterpret_cast<const char*>(local.get()))));
    const UINT_PTR arg = static_cast<UINT_PTR>(id) | (popup ? 0x10000 : 0);
    DWORD state = 0xFFFFFFFF;
    if (const KernelHandle t{CreateRemoteThread(Handle(), nullptr, 0, start,
                                                reinterpret_cast<void*>(arg), 0, nullptr)}) {
        WaitForSingleObject(t.get(), 10000);
        GetExitCodeThread(t.get(), &state);
    }
    return state;
}

} // namespace velkor::kit
