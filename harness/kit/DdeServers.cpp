// The fake DDE partners of the chat window.
#include "tests/kit/DdeServers.h"

#include "tests/kit/DdeClients.h"

#include <dde.h>

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace velkor::kit {

// ---- CommandServer ----

namespace {

// DDEML gives the callback no context; it runs on the instance's thread.
thread_local CommandServer* t_server = nullptr;

std::string AtomText(ATOM atom) {
    char text[256] = "";
    if (atom) GlobalGetAtomNameA(atom, text, sizeof text);
    return text;
}

} // namespace

CommandServer::CommandServer(std::string service, Thread thread, Answer answer)
    : service_(std::move(service)), answer_(answer),
      release_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), ownThread_(thread == Thread::Own) {
    assert(thread == Thread::Own || answer == Answer::Always); // it would hang the caller
    if (thread == Thread::Own)
        thread_.emplace([this] { Start(); }, [this] { Stop(); });
    else
        Start();
}

CommandServer::~CommandServer() {
    SetEvent(release_.get());
    if (thread_)
        thread_.reset();
    else
        Stop();
}

void CommandServer::Start() {
    assert(!t_server);
    t_server = this;
    if (InitializeDdeInstance(instance_, Callback,
                              APPCLASS_STANDARD | CBF_FAIL_ADVISES | CBF_FAIL_REQUESTS |
                                  CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS) !=
        DMLERR_NO_ERROR)
        throw std::runtime_error("DdeInitialize failed");
    serviceName_ = DdeString(instance_.get(), service_);
    topic_ = DdeString(instance_.get(), "command");
    SwitchOn();
}

void CommandServer::Stop() {
    serviceName_.reset();
    topic_.reset();
    instance_.reset(); // ends every conversation with a goodbye
    t_server = nullptr;
}

void CommandServer::SwitchOff() {
    DdeNameService(instance_.get(), serviceName_.get(), nullptr, DNS_UNREGISTER);
}

void CommandServer::SwitchOn() {
    DdeNameService(instance_.get(), serviceName_.get(), nullptr, DNS_REGISTER);
}

void CommandServer::SetBehaviour(const Behaviour& behaviour) {
    assert(ownThread_ || behaviour.hangFirst == 0); // it would hang the caller
    std::lock_guard lock(mutex_);
    behaviour_ = behaviour;
    pokesSeen_ = 0;
}

std::vector<std::string> CommandServer::Pokes() const {
    std::vector<std::string> texts;
    for (const Arrival& a : Arrivals())
        texts.push_back(a.text);
    return texts;
}

std::size_t CommandServer::Count() const {
    std::lock_guard lock(mutex_);
    return arrivals_.size();
}

std::vector<CommandServer::Arrival> CommandServer::Arrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
}

void CommandServer::ForgetArrivals() {
    std::lock_guard lock(mutex_);
    arrivals_.clear();
}

HDDEDATA CALLBACK CommandServer::Callback(UINT type, UINT format, HCONV, HSZ hsz1, HSZ,
                                          HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    CommandServer* self = t_server;
    if (!self) return nullptr;
    if (type == XTYP_CONNECT)
        return reinterpret_cast<HDDEDATA>(DdeCmpStringHandles(hsz1, self->topic_.get()) == 0);
    if (type != XTYP_POKE) return nullptr;
    if (format != CF_TEXT) return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
    DWORD size = 0;
    const auto* bytes = reinterpret_cast<const char*>(DdeAccessData(data, &size));
    std::string text(bytes ? bytes : "", bytes ? size : 0);
    DdeUnaccessData(data);
    text.resize(std::min(text.size(), text.find('\0')));
    DWORD hangMs = 0;
    {
        std::lock_guard lock(self->mutex_);
        const Behaviour& b = self->behaviour_;
        const int seen = ++self->pokesSeen_;
        if (seen <= b.busyFirst) // not taken: it may come again
            return reinterpret_cast<HDDEDATA>(DDE_FBUSY);
        if (b.refuse) return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
        if (seen - b.busyFirst <= b.hangFirst) hangMs = b.hangMs;
        self->arrivals_.push_back({text, std::chrono::steady_clock::now()});
    }
    if (self->onCommand) self->onCommand(text);
    if (self->answer_ == Answer::Never) WaitForSingleObject(self->release_.get(), INFINITE);
    if (hangMs) WaitForSingleObject(self->release_.get(), hangMs);
    return reinterpret_cast<HDDEDATA>(DDE_FACK); // for Never: long after the sender gave up
}

// ---- SilentDdeServer ----

SilentDdeServer::SilentDdeServer(std::string service, std::string topic, Pokes pokes)
    : service_(std::move(service)), topic_(std::move(topic)), answer_(pokes) {
    thread_.emplace(
        [this] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = Proc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = "VelkorTestSilentDde";
            RegisterClassA(&wc); // a second registration fails harmlessly
            // A top-level window: WM_DDE_INITIATE is broadcast to top-level windows only.
            hwnd_.reset(CreateWindowA(wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      wc.hInstance, nullptr));
            SetWindowLongPtrA(hwnd_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        },
        [this] { hwnd_.reset(); });
}

SilentDdeServer::~SilentDdeServer() {
    thread_.reset();
}

std::vector<std::string> SilentDdeServer::Texts() const {
    std::lock_guard lock(mutex_);
    return texts_;
}

LRESULT CALLBACK SilentDdeServer::Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<SilentDdeServer*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, msg, wparam, lparam);
    const HWND from = reinterpret_cast<HWND>(wparam);
    switch (msg) {
    case WM_DDE_INITIATE: {
        // The atoms belong to the caller; the answer carries atoms of our own.
        const std::string service = AtomText(LOWORD(lparam)), topic = AtomText(HIWORD(lparam));
        if (!service.empty() && lstrcmpiA(service.c_str(), self->service_.c_str()) == 0 &&
            lstrcmpiA(topic.c_str(), self->topic_.c_str()) == 0)
            SendMessageA(from, WM_DDE_ACK, reinterpret_cast<WPARAM>(hwnd),
                         MAKELPARAM(GlobalAddAtomA(self->service_.c_str()),
                                    GlobalAddAtomA(self->topic_.c_str())));
        return 0;
    }
    case WM_DDE_POKE: {
        ++self->pokes_;
        if (self->answer_ == Pokes::Silent) return 0; // and never a WM_DDE_ACK
        UINT_PTR block = 0, item = 0;
        if (!UnpackDDElParam(WM_DDE_POKE, lparam, &block, &item)) return 0;
        FreeDDElParam(WM_DDE_POKE, lparam);
        const HGLOBAL data = reinterpret_cast<HGLOBAL>(block);
        if (const auto* poke = static_cast<const DDEPOKE*>(GlobalLock(data))) {
            const auto* text = reinterpret_cast<const char*>(poke->Value);
            const SIZE_T size = GlobalSize(data) - offsetof(DDEPOKE, Value);
            const bool release = poke->fRelease;
            std::lock_guard lock(self->mutex_);
            self->texts_.emplace_back(text, strnlen(text, size));
            GlobalUnlock(data);
            if (release) GlobalFree(data);
        }
        // The item atom goes back with the acknowledgement.
        PostMessageA(from, WM_DDE_ACK, reinterpret_cast<WPARAM>(hwnd),
                     PackDDElParam(WM_DDE_ACK, 0x8000, item));
        return 0;
    }
    case WM_DDE_TERMINATE:
        PostMessageA(from, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(hwnd), 0);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

// ---- DdeSinkProcess ----

namespace {

std::string SinkArgs(const std::string& service, const std::string& out) {
    DeleteFileA(out.c_str());
    return "--service " + service + " --topic command --out \"" + out + "\" --seconds 300";
}

} // namespace

DdeSinkProcess::DdeSinkProcess(const std::string& exe, const std::string& service,
                               const std::string& out)
    : out_(out), process_(exe, SinkArgs(service, out)) {
    // Up once its service answers; a raw initiate, which a hung window does not hold.
    up_ = process_.Started() &&
          WaitFor(
              [&] {
                  RawDdeClient probe;
                  return probe.Initiate(service, "command");
              },
              std::chrono::milliseconds(20000), {std::chrono::milliseconds(50)});
}

std::vector<std::string> DdeSinkProcess::Texts() const {
    std::vector<std::string> texts;
    const std::string all = Received();
    std::size_t at = 0;
    for (std::size_t end; (end = all.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = all.substr(at, end - at); // a record written whole
        const std::size_t text = line.find(" text=");
        if (text != std::string::npos) texts.push_back(line.substr(text + 6));
    }
    return texts;
}

// ---- HungWindow ----

HungWindow::HungWindow() : release_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    const KernelHandle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    thread_ = std::thread([this, ready = ready.get()] {
        const UniqueHwnd hwnd(CreateWindowA("STATIC", "hung program", WS_POPUP | WS_VISIBLE, 0, 0,
                                            120, 40, nullptr, nullptr, GetModuleHandleA(nullptr),
                                            nullptr));
        SetEvent(ready);
        // No message is handled from here on: sent messages wait, as for a frozen program.
        WaitForSingleObject(release_.get(), INFINITE);
    });
    WaitForSingleObject(ready.get(), 10000);
}

HungWindow::~HungWindow() {
    SetEvent(release_.get());
    thread_.join();
}

} // namespace velkor::kit
