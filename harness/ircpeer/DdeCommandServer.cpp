// The DDE command server: service NAME, topic "command", text pokes on any item.
#include "tools/ircpeer/DdeCommandServer.h"

#include <stdexcept>

namespace ircpeer {

DdeCommandServer* DdeCommandServer::active_ = nullptr;

namespace {

HDDEDATA Answer(UINT flags) {
    return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(flags));
}

} // namespace

DdeCommandServer::DdeCommandServer(const std::string& service, Handler handler)
    : handler_(std::move(handler)) {
    if (active_) throw std::logic_error("a DDE command server exists already");
    if (const UINT rc =
            velkor::InitializeDdeInstance(instance_, &Callback,
                                          APPCLASS_STANDARD | CBF_FAIL_ADVISES | CBF_FAIL_REQUESTS |
                                              CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS))
        throw std::runtime_error("DdeInitialize failed, error " + std::to_string(rc));
    service_ = velkor::DdeString(instance_.get(), service);
    topic_ = velkor::DdeString(instance_.get(), kTopic);
    if (!service_ || !topic_) throw std::runtime_error("cannot make DDE string handles");
    active_ = this;
    if (!DdeNameService(instance_.get(), service_.get(), nullptr, DNS_REGISTER)) {
        active_ = nullptr;
        throw std::runtime_error("cannot register DDE service " + service + ", error " +
                                 std::to_string(DdeGetLastError(instance_.get())));
    }
    registered_ = true;
}

DdeCommandServer::~DdeCommandServer() {
    if (registered_) DdeNameService(instance_.get(), service_.get(), nullptr, DNS_UNREGISTER);
    active_ = nullptr;
}

HDDEDATA CALLBACK DdeCommandServer::Callback(UINT type, UINT format, HCONV, HSZ hsz1, HSZ hsz2,
                                             HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    if (!active_) return nullptr;
    return active_->OnTransaction(type, format, hsz1, hsz2, data);
}

HDDEDATA DdeCommandServer::OnTransaction(UINT type, UINT format, HSZ hsz1, HSZ hsz2,
                                         HDDEDATA data) {
    switch (type) {
    case XTYP_CONNECT:
        // hsz1 is the topic, hsz2 the service; names compare without regard to case.
        return Answer(DdeCmpStringHandles(hsz1, topic_.get()) == 0 &&
                      (!hsz2 || DdeCmpStringHandles(hsz2, service_.get()) == 0));
    case XTYP_POKE:
        // Any item: the chat add-on pokes on item "" (two double-quote characters).
        if (format != CF_TEXT || DdeCmpStringHandles(hsz1, topic_.get()) != 0)
            return Answer(DDE_FNOTPROCESSED);
        return Answer(Run(data) ? DDE_FACK : DDE_FNOTPROCESSED);
    case XTYP_EXECUTE:
        return Answer(Run(data) ? DDE_FACK : DDE_FNOTPROCESSED);
    default:
        return nullptr;
    }
}

bool DdeCommandServer::Run(HDDEDATA data) {
    DWORD size = 0;
    const BYTE* bytes = DdeAccessData(data, &size);
    if (!bytes) return false;
    // The text ends at its first zero byte or at the end of the data, whichever is first.
    std::string_view raw(reinterpret_cast<const char*>(bytes), size);
    std::string text(raw.substr(0, raw.find('\0')));
    DdeUnaccessData(data);
    return handler_(text);
}

} // namespace ircpeer
