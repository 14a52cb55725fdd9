// The DDEML client and the raw-message client of the Wine tests.
#include "harness/kit/DdeClients.h"

#include "dde/DdeMessages.h"
#include "harness/kit/Pump.h"

#include <dde.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace velkor::kit {

// ---- DdemlClient ----

namespace {

// DDEML gives the callback no context: it is called on the instance's thread, where the
// client whose conversation it names is found.
thread_local std::vector<DdemlClient*> t_clients;

std::string Bytes(HDDEDATA data) {
    std::string bytes(data ? DdeGetData(data, nullptr, 0, 0) : 0, '\0');
    if (!bytes.empty())
        DdeGetData(data, reinterpret_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()),
                   0);
    return bytes;
}

} // namespace

DdemlClient::DdemlClient() {
    if (InitializeDdeInstance(instance_, Callback, APPCMD_CLIENTONLY) != DMLERR_NO_ERROR)
        throw std::runtime_error("DdeInitialize failed");
    t_clients.push_back(this);
}

DdemlClient::~DdemlClient() {
    std::erase(t_clients, this);
}

bool DdemlClient::Connect(const std::string& service, const std::string& topic) {
    Disconnect();
    const DdeString s(instance_.get(), service), t(instance_.get(), topic);
    CONVCONTEXT context{};
    context.cb = sizeof context;
    context.iCodePage = CP_WINANSI;
    conv_.reset(DdeConnect(instance_.get(), s.get(), t.get(), &context));
    return bool(conv_);
}

void DdemlClient::Disconnect() {
    conv_.reset();
}

HDDEDATA DdemlClient::Transaction(const std::string& item, std::string_view bytes, UINT format,
                                  UINT type, DWORD timeoutMs, DWORD* status) {
    const DdeString i(instance_.get(), item);
    std::string copy(bytes); // DDEML reads from a non-const pointer; none for a request
    return DdeClientTransaction(bytes.data() ? reinterpret_cast<LPBYTE>(copy.data()) : nullptr,
                                static_cast<DWORD>(copy.size()), conv_.get(), i.get(), format, type,
                                timeoutMs, status);
}

TransactionResult DdemlClient::Poke(const std::string& item, std::string_view bytes, UINT format,
                                    DWORD timeoutMs) {
    TransactionResult r;
    r.returned = Transaction(item, bytes, format, XTYP_POKE, timeoutMs, &r.status) != nullptr;
    if (!r.returned) r.error = DdeGetLastError(instance_.get());
    return r;
}

std::optional<std::string> DdemlClient::Request(const std::string& item, UINT format) {
    DWORD status = 0;
    const DdeData data(Transaction(item, {}, format, XTYP_REQUEST, 5000, &status));
    PumpFor(30);
    if (!data) return std::nullopt;
    return Bytes(data.get());
}

bool DdemlClient::AdviseStart(const std::string& item, bool warm, UINT format) {
    DWORD status = 0;
    return Transaction(item, {}, format, warm ? XTYP_ADVSTART | XTYPF_NODATA : XTYP_ADVSTART, 5000,
                       &status) != nullptr;
}

bool DdemlClient::AdviseStop(const std::string& item, UINT format) {
    DWORD status = 0;
    return Transaction(item, {}, format, XTYP_ADVSTOP, 5000, &status) != nullptr;
}

TransactionResult DdemlClient::Execute(std::string_view command) {
    TransactionResult r;
    std::string text(command);
    text.push_back('\0');
    r.returned = Transaction({}, text, CF_TEXT, XTYP_EXECUTE, 5000, &r.status) != nullptr;
    if (!r.returned) r.error = DdeGetLastError(instance_.get());
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
    const auto self = std::find_if(t_clients.begin(), t_clients.end(),
                                   [conv](const DdemlClient* c) { return c->Conv() == conv; });
    if (self != t_clients.end()) {
        std::lock_guard lock((*self)->mutex_);
        if (data)
            (*self)->adviseData_.push_back(Bytes(data));
        else
            ++(*self)->warmNotices_;
    }
    return reinterpret_cast<HDDEDATA>(DDE_FACK);
}

// ---- RawDdeClient ----

namespace {

ATOM AtomOf(const std::string& name) {
    return name.empty() ? 0 : GlobalAddAtomA(name.c_str());
}

} // namespace

std::optional<WORD> AckStatus(const std::optional<RawDdeClient::Reply>& reply) {
    if (!reply || reply->message != WM_DDE_ACK) return std::nullopt;
    return reply->status;
}

bool Acked(const std::optional<RawDdeClient::Reply>& reply) {
    return AckStatus(reply).value_or(0) & 0x8000;
}

RawDdeClient::RawDdeClient()
    : window_(std::make_unique<TMessageWindow>(
          TMessageWindow::TKind::MessageOnly,
          [this](HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
              return HandleMessage(hwnd, msg, wparam, lparam);
          })) {}

RawDdeClient::~RawDdeClient() {
    Terminate();
}

bool RawDdeClient::Initiate(const std::string& service, const std::string& topic) {
    const ATOM s = AtomOf(service), t = AtomOf(topic);
    initiating_ = true;
    // Servers answer with a WM_DDE_ACK sent while the round runs.
    velkor::BroadcastInitiate(Window(), s, t);
    initiating_ = false;
    if (s) GlobalDeleteAtom(s);
    if (t) GlobalDeleteAtom(t);
    return server_ != nullptr;
}

bool RawDdeClient::Post(UINT msg, LPARAM lparam) {
    replies_.clear();
    return server_ && PostMessageA(server_, msg, reinterpret_cast<WPARAM>(Window()), lparam);
}

std::optional<RawDdeClient::Reply> RawDdeClient::Wait(DWORD timeoutMs) {
    if (!WaitFor([this] { return !replies_.empty(); }, std::chrono::milliseconds(timeoutMs),
                 {std::chrono::milliseconds(timeoutMs)}))
        return std::nullopt;
    Reply r = replies_.front();
    replies_.pop_front();
    return r;
}

HGLOBAL RawDdeClient::PostPoke(const std::string& item, std::string_view bytes, short format) {
    replies_.clear();
    const ATOM atom = AtomOf(item);
    const HGLOBAL block = server_ ? PostDdePoke(server_, Window(), atom, bytes, format) : nullptr;
    if (!block && atom) GlobalDeleteAtom(atom); // the server takes the atom with the message
    return block;
}

std::optional<RawDdeClient::Reply>
RawDdeClient::Poke(const std::string& item, std::string_view bytes, short format, DWORD timeoutMs) {
    const HGLOBAL block = PostPoke(item, bytes, format);
    if (!block) return std::nullopt;
    const auto reply = Wait(timeoutMs);
    if (AckStatus(reply) && !(reply->status & DDE_FACK))
        GlobalFree(block); // a refused poke leaves its data with the client
    return reply;
}

std::optional<RawDdeClient::Reply> RawDdeClient::Request(const std::string& item, short format,
                                                         DWORD timeoutMs) {
    if (!Post(WM_DDE_REQUEST, MAKELPARAM(static_cast<WORD>(format), AtomOf(item))))
        return std::nullopt;
    const auto reply = Wait(timeoutMs);
    if (reply && reply->message == WM_DDE_DATA) {
        PumpFor(50);
        replies_.clear();
    }
    return reply;
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
    const auto reply = Wait(timeoutMs);
    if (AckStatus(reply) && !(reply->status & DDE_FACK))
        GlobalFree(options); // a refused advise leaves the options with the client
    return reply;
}

std::optional<RawDdeClient::Reply> RawDdeClient::Unadvise(const std::string& item, short format,
                                                          DWORD timeoutMs) {
    if (!Post(WM_DDE_UNADVISE, MAKELPARAM(static_cast<WORD>(format), AtomOf(item))))
        return std::nullopt;
    return Wait(timeoutMs);
}

void RawDdeClient::Terminate() {
    if (!server_ || !window_) return;
    terminated_ = false;
    const HWND server = std::exchange(server_, nullptr);
    if (PostMessageA(server, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(Window()), 0))
        WaitFor([this] { return terminated_; }, std::chrono::milliseconds(2000),
                {std::chrono::milliseconds(2000)});
    replies_.clear();
}

void RawDdeClient::Drop() {
    if (server_) PostMessageA(server_, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(Window()), 0);
    server_ = nullptr;
}

void RawDdeClient::Abandon() {
    server_ = nullptr;
    window_.reset();
}

void RawDdeClient::Queue(Reply reply) {
    if (onReply)
        onReply(reply);
    else
        replies_.push_back(std::move(reply));
}

std::optional<LRESULT> RawDdeClient::HandleMessage(HWND hwnd, UINT msg, WPARAM wparam,
                                                   LPARAM lparam) {
    const HWND from = reinterpret_cast<HWND>(wparam);
    switch (msg) {
    case WM_DDE_ACK:
        if (initiating_) {
            TakeInitiateAck(lparam);
            if (!server_)
                server_ = from;
            else
                PostMessageA(from, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(hwnd), 0);
        } else {
            if (const auto status = TakeDdeAck(lparam)) Queue({WM_DDE_ACK, *status, {}});
        }
        return 0;
    case WM_DDE_DATA: {
        UINT_PTR handle = 0, item = 0;
        UnpackDDElParam(WM_DDE_DATA, lparam, &handle, &item);
        FreeDDElParam(WM_DDE_DATA, lparam);
        Reply reply{WM_DDE_DATA, 0x8000, {}};
        bool ackReq = false, release = false;
        if (auto h = reinterpret_cast<HGLOBAL>(handle)) {
            if (auto* data = static_cast<DDEDATA*>(GlobalLock(h))) {
                const SIZE_T size = GlobalSize(h), header = offsetof(DDEDATA, Value);
                const std::string text(reinterpret_cast<const char*>(data->Value),
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
        Queue(std::move(reply));
        return 0;
    }
    case WM_DDE_TERMINATE:
        if (from == server_) { // the server ends it: answer
            PostMessageA(from, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(hwnd), 0);
            server_ = nullptr;
            if (onServerEnded) onServerEnded();
        } else {
            terminated_ = true; // the answer to ours
        }
        return 0;
    default:
        return std::nullopt;
    }
}

} // namespace velkor::kit
