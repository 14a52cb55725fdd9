// The shared chat window of the hostile DDE cases and their closing checks.
#include "tests/hostile/hostile_fixture.h"

#include "app/Menuids.h"

#include <dde.h>

#include <richedit.h>

void Hostile::SetUpTestSuite() {
    mirc_ = std::make_unique<MircServer>();
    app_ = std::make_unique<Velkor>();
}

void Hostile::TearDownTestSuite() {
    app_.reset();
    mirc_.reset();
}

void Hostile::Restart() {
    app_.reset();
    app_ = std::make_unique<Velkor>();
}

bool Hostile::Alive(DWORD ms) {
    if (!app_ || !IsWindow(app_->Main())) return false;
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(app_->Main(), WM_NULL, 0, 0, SMTO_NORMAL, ms, &result) != 0;
}

void Hostile::SetUp() {
    // A case that broke the window has failed already; the next one gets a fresh window.
    if (!Alive() || MessageBox()) Restart();
    ClearDisplay();
}

HWND Hostile::MessageBox() {
    return FindTopWindow(app_->ProcessId(), "#32770", "velkor");
}

std::size_t Hostile::DisplayLength() {
    return static_cast<std::size_t>(SendMessageA(App().Display(), WM_GETTEXTLENGTH, 0, 0));
}

std::size_t Hostile::StoredLength() {
    // EM_GETTEXTLENGTHEX is a WM_USER message: its structure must be in the target.
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                                 App().ProcessId());
    if (!process) return 0;
    void* remote =
        VirtualAllocEx(process, nullptr, sizeof(GETTEXTLENGTHEX), MEM_COMMIT, PAGE_READWRITE);
    const GETTEXTLENGTHEX how{GTL_NUMCHARS | GTL_PRECISE, CP_ACP};
    SIZE_T written = 0;
    WriteProcessMemory(process, remote, &how, sizeof how, &written);
    const LRESULT length =
        SendMessageA(App().Display(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(remote), 0);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return length > 0 ? static_cast<std::size_t>(length) : 0;
}

void Hostile::ClearDisplay() {
    App().Menu(velkor::menuid::Clearbuffer1);
    WaitFor([] { return App().DisplayText().empty(); });
}

::testing::AssertionResult Hostile::PokeAndSee(const std::string& tag) {
    // As mIRC's remote event: a conversation of its own, item "", a bounded initiate (a
    // hung program on the desktop does not hold the probe, as it would hold DdeConnect).
    RawDdeClient client;
    if (!client.Initiate())
        return ::testing::AssertionFailure() << "no conversation with velkor|velkor";
    const std::string line = "#velkor probe " + tag;
    const auto reply = client.Poke("", line + '\0');
    if (!reply || reply->message != WM_DDE_ACK || !(reply->status & 0x8000))
        return ::testing::AssertionFailure() << "probe " << tag << " not acknowledged: status "
                                             << (reply ? int(reply->status) : -1);
    const auto lines = App().DisplayLines();
    if (lines.empty() || lines.back() != "<probe> " + tag)
        return ::testing::AssertionFailure()
               << "probe " << tag << " not shown; last line: "
               << (lines.empty() ? "(none)" : lines.back().substr(0, 80));
    return ::testing::AssertionSuccess();
}

void Hostile::Setting(int menuId, const char* caption, const std::string& entry, bool confirm,
                      const std::function<void(HWND dialog)>& whileOpen) {
    App().Menu(menuId);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        dialog = FindTopWindow(App().ProcessId(), "#32770", caption);
        return dialog != nullptr;
    })) << caption;
    HWND field = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (field = GetDlgItem(dialog, 100)) != nullptr; }));
    SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    if (whileOpen) whileOpen(dialog);
    PostMessageA(GetDlgItem(dialog, confirm ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); })) << caption;
    // The handler's last step has run once the window answers again.
    DWORD_PTR result = 0;
    SendMessageTimeoutA(App().Main(), WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result);
}
