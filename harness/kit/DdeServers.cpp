// The fake DDE partners of the chat window.
#include "harness/kit/DdeServers.h"

#include "harness/kit/DdeClients.h"

#include <dde.h>

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace velkor::kit {

namespace {

std::string AtomText(ATOM atom) {
    char text[256] = "";
    if (atom) GlobalGetAtomNameA(atom, text, sizeof text);
    return text;
}

} // namespace

// ---- SilentDdeServer ----

SilentDdeServer::SilentDdeServer(std::string service, std::string topic, Pokes pokes)
    : service_(std::move(service)), topic_(std::move(topic)), answer_(pokes) {
    thread_.emplace(
        [this] {
            // A top-level window: WM_DDE_INITIATE is broadcast to top-level windows only.
            window_.emplace(TMessageWindow::TKind::TopLevel,
                            [this](HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
                                return HandleMessage(hwnd, msg, wparam, lparam);
                            });
        },
        [this] { window_.reset(); });
}

SilentDdeServer::~SilentDdeServer() {
    thread_.reset();
}

std::vector<std::string> SilentDdeServer::Texts() const {
    std::lock_guard lock(mutex_);
    return texts_;
}

std::optional<LRESULT> SilentDdeServer::HandleMessage(HWND hwnd, UINT msg, WPARAM wparam,
                                                      LPARAM lparam) {
    const HWND from = reinterpret_cast<HWND>(wparam);
    switch (msg) {
    case WM_DDE_INITIATE: {
        // The atoms belong to the caller; the answer carries atoms of our own.
        const std::string service = AtomText(LOWORD(lparam)), topic = AtomText(HIWORD(lparam));
        if (!service.empty() && lstrcmpiA(service.c_str(), service_.c_str()) == 0 &&
            lstrcmpiA(topic.c_str(), topic_.c_str()) == 0)
            SendMessageA(
                from, WM_DDE_ACK, reinterpret_cast<WPARAM>(hwnd),
                MAKELPARAM(GlobalAddAtomA(service_.c_str()), GlobalAddAtomA(topic_.c_str())));
        return 0;
    }
    case WM_DDE_POKE: {
        ++pokes_;
        if (answer_ == Pokes::Silent) return 0; // and never a WM_DDE_ACK
        UINT_PTR block = 0, item = 0;
        if (!UnpackDDElParam(WM_DDE_POKE, lparam, &block, &item)) return 0;
        FreeDDElParam(WM_DDE_POKE, lparam);
        const HGLOBAL data = reinterpret_cast<HGLOBAL>(block);
        if (const auto* poke = static_cast<const DDEPOKE*>(GlobalLock(data))) {
            const auto* text = reinterpret_cast<const char*>(poke->Value);
            const SIZE_T size = GlobalSize(data) - offsetof(DDEPOKE, Value);
            const bool release = poke->fRelease;
            std::lock_guard lock(mutex_);
            texts_.emplace_back(text, strnlen(text, size));
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
        return std::nullopt;
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
