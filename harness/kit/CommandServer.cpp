// CommandServer: the IRC client's DDE command server, stood in for.
#include "harness/kit/CommandServer.h"

#include <algorithm>
#include <cassert>
#include <stdexcept>
#include <string_view>

namespace velkor::kit {

namespace {

// DDEML gives the callback no context; it runs on the instance's thread.
thread_local CommandServer* t_server = nullptr;

} // namespace

CommandServer::CommandServer(std::string service, Thread thread, Answer answer, std::string topic)
    : service_(std::move(service)), topicName_(std::move(topic)), answer_(answer),
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
        DMLERR_NO_ERROR) {
        Stop();
        throw std::runtime_error("DdeInitialize failed");
    }
    serviceName_ = DdeString(instance_.get(), service_);
    topic_ = DdeString(instance_.get(), topicName_);
    if (!SwitchOn() && !ownThread_) {
        const UINT error = DdeGetLastError(instance_.get());
        Stop();
        throw std::runtime_error("cannot register DDE service " + service_ + ", error " +
                                 std::to_string(error));
    }
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

bool CommandServer::SwitchOn() {
    return DdeNameService(instance_.get(), serviceName_.get(), nullptr, DNS_REGISTER) != nullptr;
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

HDDEDATA CALLBACK CommandServer::Callback(UINT type, UINT format, HCONV, HSZ hsz1, HSZ hsz2,
                                          HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    CommandServer* self = t_server;
    if (!self) return nullptr;
    switch (type) {
    case XTYP_CONNECT:
        // hsz1 is the topic, hsz2 the service; names compare without regard to case.
        return reinterpret_cast<HDDEDATA>(
            DdeCmpStringHandles(hsz1, self->topic_.get()) == 0 &&
            (!hsz2 || DdeCmpStringHandles(hsz2, self->serviceName_.get()) == 0));
    case XTYP_POKE:
        // Any item: the chat add-on pokes on item "" (two double-quote characters).
        if (format != CF_TEXT) return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
        return self->Command(data, hsz2);
    case XTYP_EXECUTE:
        return self->Command(data, nullptr);
    default:
        return nullptr;
    }
}

HDDEDATA CommandServer::Command(HDDEDATA data, HSZ item) {
    DWORD size = 0;
    const auto* bytes = reinterpret_cast<const char*>(DdeAccessData(data, &size));
    if (!bytes) return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
    // The text ends at its first zero byte or at the end of the data, whichever is first.
    const std::string_view raw(bytes, size);
    Arrival arrival{std::string(raw.substr(0, raw.find('\0'))), std::chrono::steady_clock::now(),
                    std::nullopt, size};
    DdeUnaccessData(data);
    if (item) arrival.item = DdeQueryText(instance_.get(), item);
    DWORD hangMs = 0;
    {
        std::lock_guard lock(mutex_);
        const Behaviour& b = behaviour_;
        const int seen = ++pokesSeen_;
        if (seen <= b.busyFirst) // not taken: it may come again
            return reinterpret_cast<HDDEDATA>(DDE_FBUSY);
        if (b.refuse) return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
        if (seen - b.busyFirst <= b.hangFirst) hangMs = b.hangMs;
        arrivals_.push_back(arrival);
    }
    const bool done = !onCommand || onCommand(arrival);
    if (answer_ == Answer::Never) WaitForSingleObject(release_.get(), INFINITE);
    if (hangMs) WaitForSingleObject(release_.get(), hangMs);
    // For Never: long after the sender gave up.
    return reinterpret_cast<HDDEDATA>(done ? DDE_FACK : DDE_FNOTPROCESSED);
}

} // namespace velkor::kit
