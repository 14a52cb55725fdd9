// Hostile DDE partners: DDEML client, raw-message client, and two servers that never answer.
#include "tests/hostile/hostile_dde.h"

#include "dde/DdeInitiate.h"

#include <dde.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>

void PumpFor(DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        const auto left = static_cast<LONG>(end - GetTickCount());
        if (left <= 0) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
    }
}

namespace {

BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

struct WindowCount {
    DWORD pid;
    int count = 0;
};

BOOL CALLBACK CountTop(HWND hwnd, LPARAM state) {
    auto* s = reinterpret_cast<WindowCount*>(state);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == s->pid) {
        ++s->count;
        EnumChildWindows(hwnd, CountChild, reinterpret_cast<LPARAM>(&s->count));
    }
    return TRUE;
}

} // namespace

int ProcessWindows(DWORD pid) {
    WindowCount s{pid};
    EnumWindows(CountTop, reinterpret_cast<LPARAM>(&s));
    return s.count;
}

// ---- DdemlClient ----

DdemlClient::DdemlClient() {
    if (DdeInitializeA(&instance_, Callback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
        throw std::runtime_error("DdeInitialize failed");
}

DdemlClient::~DdemlClient() {
    Disconnect();
    for (HSZ s : strings_)
        DdeFreeStringHandle(instance_, s);
    DdeUninitialize(instance_);
}

HSZ DdemlClient::Item(const std::string& item) {
    if (item.empty()) return nullptr;
    HSZ s = DdeCreateStringHandleA(instance_, item.c_str(), CP_WINANSI);
    strings_.push_back(s);
    return s;
}

bool DdemlClient::Connect(const std::string& service, const std::string& topic) {
    Disconnect();
    HSZ s = Item(service), t = Item(topic);
    conv_ = DdeConnect(instance_, s, t, nullptr);
    if (conv_) DdeSetUserHandle(conv_, QID_SYNC, reinterpret_cast<DWORD_PTR>(this));
    return conv_ != nullptr;
}

void DdemlClient::Disconnect() {
    if (conv_) DdeDisconnect(conv_);
    conv_ = nullptr;
}

TransactionResult DdemlClient::Poke(const std::string& item, std::string_view bytes, UINT format,
                                    DWORD timeoutMs) {
    TransactionResult r;
    std::string copy(bytes); // DDEML reads from a non-const pointer
    r.returned =
        DdeClientTransaction(reinterpret_cast<LPBYTE>(copy.data()), static_cast<DWORD>(copy.size()),
                             conv_, Item(item), format, XTYP_POKE, timeoutMs, &r.status) != nullptr;
    if (!r.returned) r.error = DdeGetLastError(instance_);
    return r;
}

std::optional<std::string> DdemlClient::Request(const std::string& item, UINT format) {
    DWORD status = 0;
    HDDEDATA data =
        DdeClientTransaction(nullptr, 0, conv_, Item(item), format, XTYP_REQUEST, 5000, &status);
    if (!data) return std::nullopt;
    DWORD size = 0;
    const auto* bytes = reinterpret_cast<const char*>(DdeAccessData(data, &size));
    std::string text = bytes ? std::string(bytes, size) : std::string();
    DdeUnaccessData(data);
    DdeFreeDataHandle(data);
    return text;
}

bool DdemlClient::AdviseStart(const std::string& item, bool warm, UINT format) {
    DWORD status = 0;
    return DdeClientTransaction(nullptr, 0, conv_, Item(item), format,
                                warm ? XTYP_ADVSTART | XTYPF_NODATA : XTYP_ADVSTART, 5000,
                                &status) != nullptr;
}

bool DdemlClient::AdviseStop(const std::string& item, UINT format) {
    DWORD status = 0;
    return DdeClientTransaction(nullptr, 0, conv_, Item(item), format, XTYP_ADVSTOP, 5000,
                                &status) != nullptr;
}

TransactionResult DdemlClient::Execute(std::string_view command) {
    TransactionResult r;
    std::string copy(command);
    copy.push_back('\0');
    r.returned =
        DdeClientTransaction(reinterpret_cast<LPBYTE>(copy.data()), static_cast<DWORD>(copy.size()),
                             conv_, nullptr, CF_TEXT, XTYP_EXECUTE, 5000, &r.status) != nullptr;
    if (!r.returned) r.error = DdeGetLastError(instance_);
    return r;
}

std::vector<std::string> DdemlClient::AdviseData() const {
    std::lock_guard lock(mutex_);
    return adviseData_;
}

int DdemlClient::WarmNotices() const {
    std::lock_guard lock(mutex_);
    return warmNotices_;
}

HDDEDATA CALLBACK DdemlClient::Callback(UINT type, UINT, HCONV conv, HSZ, HSZ, HDDEDATA data,
                                        ULONG_PTR, ULONG_PTR) {
    if (type != XTYP_ADVDATA) return nullptr;
    CONVINFO info{};
    info.cb = sizeof info;
    if (!DdeQueryConvInfo(conv, QID_SYNC, &info) || !info.hUser)
        return reinterpret_cast<HDDEDATA>(DDE_FACK);
    auto* self = reinterpret_cast<DdemlClient*>(info.hUser);
    std::lock_guard lock(self->mutex_);
    if (!data) {
        ++self->warmNotices_;
    } else {
        DWORD size = 0;
        const auto* bytes = reinterpret_cast<const char*>(DdeAccessData(data, &size));
        self->adviseData_.emplace_back(bytes ? std::string(bytes, size) : std::string());
        DdeUnaccessData(data);
    }
    return reinterpret_cast<HDDEDATA>(DDE_FACK);
}

// ---- RawDdeClient ----

namespace {

constexpr char kRawClass[] = "HostileRawDde";

void RegisterRawClass(WNDPROC proc, const char* name) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = name;
    RegisterClassA(&wc); // a second registration fails harmlessly
}

ATOM AtomOf(const std::string& name) {
    return name.empty() ? 0 : GlobalAddAtomA(name.c_str());
}

std::string AtomText(ATOM atom) {
    char text[256] = "";
    if (atom) GlobalGetAtomNameA(atom, text, sizeof text);
    return text;
}

} // namespace

RawDdeClient::RawDdeClient() {
    RegisterRawClass(Proc, kRawClass);
    hwnd_ = CreateWindowA(kRawClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                          GetModuleHandleA(nullptr), nullptr);
    if (!hwnd_) throw std::runtime_error("no raw DDE window");
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

RawDdeClient::~RawDdeClient() {
    Terminate();
    if (hwnd_) DestroyWindow(hwnd_);
}

bool RawDdeClient::Initiate(const std::string& service, const std::string& topic) {
    const ATOM s = GlobalAddAtomA(service.c_str()), t = GlobalAddAtomA(topic.c_str());
    initiating_ = true;
    // Servers answer with a WM_DDE_ACK sent while the round runs; a hung window costs at
    // most its short time, as for mIRC's "/dde".
    velkor::BroadcastInitiate(hwnd_, s, t);
    initiating_ = false;
    GlobalDeleteAtom(s);
    GlobalDeleteAtom(t);
    return server_ != nullptr;
}

bool RawDdeClient::Post(UINT msg, LPARAM lparam) {
    replies_.clear();
    return server_ && PostMessageA(server_, msg, reinterpret_cast<WPARAM>(hwnd_), lparam);
}

std::optional<RawDdeClient::Reply> RawDdeClient::Wait(DWORD timeoutMs) {
    const DWORD end = GetTickCount() + timeoutMs;
    while (replies_.empty()) {
        const auto left = static_cast<LONG>(end - GetTickCount());
        if (left <= 0) return std::nullopt;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    Reply r = replies_.front();
    replies_.pop_front();
    return r;
}

std::optional<RawDdeClient::Reply>
RawDdeClient::Poke(const std::string& item, std::string_view bytes, short format, DWORD timeoutMs) {
    // Sized exactly: sizeof(DDEPOKE) has padding that would arrive as data.
    const SIZE_T header = offsetof(DDEPOKE, Value);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, header + bytes.size());
    if (!block) return std::nullopt;
    auto* poke = static_cast<DDEPOKE*>(GlobalLock(block));
    std::memset(poke, 0, header);
    poke->fRelease = 1;
    poke->cfFormat = format;
    if (!bytes.empty()) std::memcpy(poke->Value, bytes.data(), bytes.size());
    GlobalUnlock(block);
    const LPARAM lparam =
        PackDDElParam(WM_DDE_POKE, reinterpret_cast<UINT_PTR>(block), AtomOf(item));
    if (!Post(WM_DDE_POKE, lparam)) {
        FreeDDElParam(WM_DDE_POKE, lparam);
        GlobalFree(block);
        return std::nullopt;
    }
    return Wait(timeoutMs);
}

std::optional<RawDdeClient::Reply> RawDdeClient::Request(const std::string& item, short format,
                                                         DWORD timeoutMs) {
    if (!Post(WM_DDE_REQUEST, MAKELPARAM(static_cast<WORD>(format), AtomOf(item))))
        return std::nullopt;
    return Wait(timeoutMs);
}

std::optional<RawDdeClient::Reply> RawDdeClient::Advise(const std::string& item, short format,
                                                        DWORD timeoutMs) {
    HGLOBAL options = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, sizeof(DDEADVISE));
    auto* advise = static_cast<DDEADVISE*>(GlobalLock(options));
    std::memset(advise, 0, sizeof(DDEADVISE));
    advise->cfFormat = format;
    GlobalUnlock(options);
    const LPARAM lparam =
        PackDDElParam(WM_DDE_ADVISE, reinterpret_cast<UINT_PTR>(options), AtomOf(item));
    if (!Post(WM_DDE_ADVISE, lparam)) {
        FreeDDElParam(WM_DDE_ADVISE, lparam);
        GlobalFree(options);
        return std::nullopt;
    }
    return Wait(timeoutMs);
}

std::optional<RawDdeClient::Reply> RawDdeClient::Unadvise(const std::string& item, short format,
                                                          DWORD timeoutMs) {
    if (!Post(WM_DDE_UNADVISE, MAKELPARAM(static_cast<WORD>(format), AtomOf(item))))
        return std::nullopt;
    return Wait(timeoutMs);
}

void RawDdeClient::Terminate() {
    if (server_ && hwnd_)
        PostMessageA(server_, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(hwnd_), 0);
    server_ = nullptr;
}

void RawDdeClient::Abandon() {
    server_ = nullptr;
    if (hwnd_) DestroyWindow(hwnd_);
    hwnd_ = nullptr;
}

LRESULT CALLBACK RawDdeClient::Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<RawDdeClient*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, msg, wparam, lparam);
    const HWND from = reinterpret_cast<HWND>(wparam);
    switch (msg) {
    case WM_DDE_ACK:
        if (self->initiating_) {
            GlobalDeleteAtom(LOWORD(lparam));
            GlobalDeleteAtom(HIWORD(lparam));
            if (!self->server_)
                self->server_ = from;
            else
                PostMessageA(from, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(hwnd), 0);
            return 0;
        } else {
            UINT_PTR status = 0, item = 0;
            UnpackDDElParam(WM_DDE_ACK, lparam, &status, &item);
            FreeDDElParam(WM_DDE_ACK, lparam);
            self->replies_.push_back({WM_DDE_ACK, static_cast<WORD>(status), {}});
            return 0;
        }
    case WM_DDE_DATA: {
        UINT_PTR handle = 0, item = 0;
        UnpackDDElParam(WM_DDE_DATA, lparam, &handle, &item);
        FreeDDElParam(WM_DDE_DATA, lparam);
        Reply reply{WM_DDE_DATA, 0, {}};
        bool ackReq = false, release = false;
        if (auto h = reinterpret_cast<HGLOBAL>(handle)) {
            if (auto* data = static_cast<DDEDATA*>(GlobalLock(h))) {
                const SIZE_T size = GlobalSize(h);
                const SIZE_T header = offsetof(DDEDATA, Value);
                std::string text(reinterpret_cast<const char*>(data->Value),
                                 size > header ? size - header : 0);
                reply.data = text.substr(0, text.find('\0'));
                ackReq = data->fAckReq;
                release = data->fRelease;
                GlobalUnlock(h);
            }
            if (release && !ackReq) GlobalFree(h);
        }
        if (ackReq)
            PostMessageA(from, WM_DDE_ACK, reinterpret_cast<WPARAM>(hwnd),
                         PackDDElParam(WM_DDE_ACK, 0x8000, item));
        else if (item)
            GlobalDeleteAtom(static_cast<ATOM>(item));
        self->replies_.push_back(std::move(reply));
        return 0;
    }
    case WM_DDE_TERMINATE:
        if (from == self->server_) {
            PostMessageA(from, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(hwnd), 0);
            self->server_ = nullptr;
        }
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

// ---- SilentDdeServer ----

SilentDdeServer::SilentDdeServer(std::string service, std::string topic)
    : service_(std::move(service)), topic_(std::move(topic)),
      ready_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = std::thread([this] { Run(); });
    WaitForSingleObject(ready_, 10000);
}

SilentDdeServer::~SilentDdeServer() {
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    thread_.join();
    CloseHandle(ready_);
}

LRESULT CALLBACK SilentDdeServer::Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<SilentDdeServer*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, msg, wparam, lparam);
    const HWND from = reinterpret_cast<HWND>(wparam);
    switch (msg) {
    case WM_DDE_INITIATE: {
        // The atoms belong to the caller; the answer carries atoms of our own.
        if (AtomText(LOWORD(lparam)) != "" &&
            lstrcmpiA(AtomText(LOWORD(lparam)).c_str(), self->service_.c_str()) == 0 &&
            lstrcmpiA(AtomText(HIWORD(lparam)).c_str(), self->topic_.c_str()) == 0)
            SendMessageA(from, WM_DDE_ACK, reinterpret_cast<WPARAM>(hwnd),
                         MAKELPARAM(GlobalAddAtomA(self->service_.c_str()),
                                    GlobalAddAtomA(self->topic_.c_str())));
        return 0;
    }
    case WM_DDE_POKE:
        ++self->pokes_; // and never a WM_DDE_ACK
        return 0;
    case WM_DDE_TERMINATE:
        PostMessageA(from, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(hwnd), 0);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

void SilentDdeServer::Run() {
    threadId_ = GetCurrentThreadId();
    RegisterRawClass(Proc, "HostileSilentDde");
    // A top-level window: WM_DDE_INITIATE is broadcast to top-level windows only.
    HWND hwnd = CreateWindowA("HostileSilentDde", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(ready_);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    DestroyWindow(hwnd);
}

// ---- BlockingDdemlServer ----

BlockingDdemlServer::BlockingDdemlServer(std::string service)
    : service_(std::move(service)), ready_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      release_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    instance_ = this;
    thread_ = std::thread([this] { Run(); });
    WaitForSingleObject(ready_, 10000);
}

BlockingDdemlServer::~BlockingDdemlServer() {
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    SetEvent(release_);
    thread_.join();
    CloseHandle(ready_);
    CloseHandle(release_);
    instance_ = nullptr;
}

HDDEDATA CALLBACK BlockingDdemlServer::Callback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA,
                                                ULONG_PTR, ULONG_PTR) {
    switch (type) {
    case XTYP_CONNECT:
        return reinterpret_cast<HDDEDATA>(TRUE);
    case XTYP_POKE:
        ++instance_->pokes_;
        WaitForSingleObject(instance_->release_, INFINITE);
        return reinterpret_cast<HDDEDATA>(DDE_FACK); // long after the sender gave up
    default:
        return nullptr;
    }
}

void BlockingDdemlServer::Run() {
    threadId_ = GetCurrentThreadId();
    DWORD instance = 0;
    DdeInitializeA(&instance, Callback,
                   APPCLASS_STANDARD | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS, 0);
    HSZ service = DdeCreateStringHandleA(instance, service_.c_str(), CP_WINANSI);
    DdeNameService(instance, service, nullptr, DNS_REGISTER);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(ready_);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    DdeNameService(instance, service, nullptr, DNS_UNREGISTER);
    DdeFreeStringHandle(instance, service);
    DdeUninitialize(instance);
}

// ---- PumpedThread ----

PumpedThread::PumpedThread(std::function<void()> body)
    : done_(std::make_unique<std::atomic<bool>>(false)) {
    thread_ = std::thread([body = std::move(body), done = done_.get()] {
        body();
        *done = true;
    });
}

PumpedThread::~PumpedThread() {
    Join();
}

void PumpedThread::Join() {
    if (!thread_.joinable()) return;
    while (!*done_)
        PumpFor(5);
    thread_.join();
}

// ---- DdeSinkProcess ----

namespace {

std::string WindowsPath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

} // namespace

DdeSinkProcess::DdeSinkProcess(const std::string& exe, const std::string& service,
                               const std::string& out)
    : out_(out) {
    DeleteFileA(out_.c_str());
    std::string command = "\"" + WindowsPath(exe) + "\" --service " + service +
                          " --topic command --out \"" + out_ + "\" --seconds 300";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &info_))
        throw std::runtime_error("cannot start ddesink");
    // Up once its service answers; a raw initiate, which a hung window does not hold.
    const DWORD end = GetTickCount() + 20000;
    while (!up_ && static_cast<LONG>(end - GetTickCount()) > 0) {
        RawDdeClient probe;
        up_ = probe.Initiate(service, "command");
        if (!up_) PumpFor(50);
    }
}

DdeSinkProcess::~DdeSinkProcess() {
    Kill();
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

void DdeSinkProcess::Kill() {
    TerminateProcess(info_.hProcess, 9);
    WaitForSingleObject(info_.hProcess, 10000);
}

std::string DdeSinkProcess::Received() const {
    std::string text;
    HANDLE f = CreateFileA(out_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(f, buffer, sizeof buffer, &n, nullptr) && n > 0)
        text.append(buffer, n);
    CloseHandle(f);
    return text;
}

std::vector<std::string> DdeSinkProcess::Texts() const {
    std::vector<std::string> texts;
    const std::string all = Received();
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find('\n', at);
        if (end == std::string::npos) break; // a record not yet written whole
        const std::string line = all.substr(at, end - at);
        const std::size_t text = line.find(" text=");
        if (text != std::string::npos) texts.push_back(line.substr(text + 6));
        at = end + 1;
    }
    return texts;
}

// ---- HungWindow ----

HungWindow::HungWindow()
    : ready_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      release_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = std::thread([this] {
        HWND hwnd = CreateWindowA("STATIC", "hung program", WS_POPUP | WS_VISIBLE, 0, 0, 120, 40,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        SetEvent(ready_);
        // No message is handled from here on: sent messages wait, as for a frozen program.
        WaitForSingleObject(release_, INFINITE);
        DestroyWindow(hwnd);
    });
    WaitForSingleObject(ready_, 10000);
}

HungWindow::~HungWindow() {
    SetEvent(release_);
    thread_.join();
    CloseHandle(ready_);
    CloseHandle(release_);
}
