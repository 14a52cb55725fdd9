// MyDdeman: the DDE manager: instance, service name, callback routing, and the end of
// conversations whose client vanished.
#include "dde/MyDdeman.h"

#include "dde/DdeText.h"
#include "dde/MyDdemanServer.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace velkor {

// ---- EDdeError ----

EDdeError::EDdeError(unsigned code)
    : std::runtime_error(MessageFor(code)), code_(code), address_(__builtin_return_address(0)) {}

std::string EDdeError::MessageFor(unsigned code) {
    return DdeErrorMessage(code);
}

// ---- TDdeMgr ----

namespace {

constexpr UINT_PTR kSweepTimer = 1;

} // namespace

TDdeMgr::TDdeMgr(TApplication& application) : TComponent(&application), application_(application) {
    if (instance_) throw std::logic_error("a second DDE manager in one process");
    // DdeInitializeA answers the error itself; DdeGetLastError needs the instance that
    // was not made.
    if (const UINT result = InitializeDdeInstance(ddeInstance_, Callback, 0))
        throw EDdeError(result);
    instance_ = this;
    SetAppName(ServiceNameFromPath(ModuleFileName()));
    try {
        sweepWindow_ = std::make_unique<TMessageWindow>(
            TMessageWindow::TKind::MessageOnly,
            [this](HWND, UINT msg, WPARAM wparam, LPARAM) -> std::optional<LRESULT> {
                if (msg != WM_TIMER || wparam != kSweepTimer) return std::nullopt;
                DropVanishedClients();
                return 0;
            });
        SetTimer(sweepWindow_->Handle(), kSweepTimer, kSweepMs, nullptr);
    } catch (const std::runtime_error&) {
        // No sweep: a client that vanishes without a goodbye keeps its record until the end.
    }
}

TDdeMgr::~TDdeMgr() {
    sweepWindow_.reset();
    serverConvs_.clear();
    ResetAppName();
    ddeInstance_.reset();
    instance_ = nullptr;
}

void TDdeMgr::SetAppName(const std::string& name) {
    ResetAppName();
    appName_ = name;
    appNameHandle_ = DdeString(DdeInstId(), appName_);
    if (appNameHandle_) DdeNameService(DdeInstId(), appNameHandle_.get(), nullptr, DNS_REGISTER);
}

void TDdeMgr::ResetAppName() {
    if (appNameHandle_) DdeNameService(DdeInstId(), appNameHandle_.get(), nullptr, DNS_UNREGISTER);
    appNameHandle_.reset();
}

TDdeMgr::TopicOwner TDdeMgr::MatchTopic(const std::string& topic) const {
    TopicOwner owner;
    const auto same = [&topic](const std::string& name) {
        return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, topic.data(),
                              static_cast<int>(topic.size()), name.data(),
                              static_cast<int>(name.size())) == CSTR_EQUAL;
    };
    for (TDdeServerConv* conv : topicConvs_)
        if (same(conv->Name())) {
            owner.serverConv = conv;
            return owner;
        }
    for (TForm* form : application_.Forms())
        if (form->Handle() && same(form->Caption())) {
            owner.form = form;
            return owner;
        }
    return owner;
}

bool TDdeMgr::ConnectAccepted(HSZ topic, HSZ service) const {
    if (service && (!appNameHandle_ || DdeCmpStringHandles(service, appNameHandle_.get()) != 0))
        return false;
    return topic && MatchTopic(DdeQueryText(DdeInstId(), topic));
}

HDDEDATA TDdeMgr::WildConnect(HSZ topic, HSZ service) const {
    if (!topic || !ConnectAccepted(topic, service)) return nullptr;
    HSZPAIR pairs[2] = {{appNameHandle_.get(), topic}, {nullptr, nullptr}};
    return DdeCreateDataHandle(DdeInstId(), reinterpret_cast<BYTE*>(pairs), sizeof pairs, 0,
                               nullptr, CF_TEXT, 0);
}

void TDdeMgr::AddTopic(TDdeServerConv& topic) {
    topicConvs_.push_back(&topic);
}

void TDdeMgr::RemoveTopic(TDdeServerConv& topic) {
    // Records naming it forget it through Notification, when the component goes.
    std::erase(topicConvs_, &topic);
}

void TDdeMgr::AddEndpoint(HCONV conv, TDdeConvEndpoint& endpoint) {
    endpoints_.push_back(&endpoint);
    DdeSetUserHandle(conv, QID_SYNC, reinterpret_cast<DWORD_PTR>(&endpoint));
}

void TDdeMgr::RemoveEndpoint(HCONV conv, TDdeConvEndpoint& endpoint) {
    // Fails harmlessly for a conversation that DDEML has forgotten.
    DdeSetUserHandle(conv, QID_SYNC, 0);
    std::erase(endpoints_, &endpoint);
}

void TDdeMgr::ConnectConfirm(HCONV conv, HSZ topic) {
    auto record = std::make_unique<TDdeSrvrConv>(*this, conv, DdeQueryText(DdeInstId(), topic));
    // Records name these components: hear of their destruction.
    if (record->ServerConv()) FreeNotification(record->ServerConv());
    if (record->Form()) FreeNotification(record->Form());
    TDdeServerConv* serverConv = record->ServerConv();
    serverConvs_.push_back(std::move(record));
    if (serverConv && serverConv->OnOpen) serverConv->OnOpen(*serverConv);
}

void TDdeMgr::DropConversation(TDdeSrvrConv& record) {
    if (TDdeServerConv* topic = record.ServerConv(); topic && topic->OnClose)
        topic->OnClose(*topic);
    record.Ended();
    std::erase_if(serverConvs_, [&record](const auto& r) { return r.get() == &record; });
}

void TDdeMgr::PostDataChange(TDdeServerItem& item) {
    std::string topic;
    if (item.ServerConv()) {
        topic = item.ServerConv()->Name();
    } else {
        // An item inside a windowed control belongs to the form around it.
        TComponent* owner = item.Owner();
        while (owner && !dynamic_cast<TForm*>(owner))
            owner = owner->Owner();
        if (!owner) return;
        topic = static_cast<TForm*>(owner)->Caption();
    }
    for (const auto& record : serverConvs_) {
        if (CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, record->Topic().data(),
                           static_cast<int>(record->Topic().size()), topic.data(),
                           static_cast<int>(topic.size())) != CSTR_EQUAL)
            continue;
        for (const auto& link : record->AdviseLinks())
            if (link->ItemName() == item.Name()) {
                DdePostAdvise(DdeInstId(), record->TopicHandle(), link->ItemHandle());
                return;
            }
    }
}

void TDdeMgr::DropVanishedClients() {
    const ULONGLONG now = GetTickCount64();
    for (std::size_t i = 0; i < serverConvs_.size();) {
        TDdeSrvrConv& record = *serverConvs_[i];
        // DDEML has forgotten the conversation: nothing else will end the record.
        if (record.Conv() && !record.CheckClient(now))
            DropConversation(record);
        else
            ++i;
    }
}

void TDdeMgr::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation != TOperation::Remove) return;
    for (const auto& record : serverConvs_)
        record->Forget(component);
}

TDdeConvEndpoint* TDdeMgr::EndpointOf(HCONV conv) const {
    CONVINFO info{};
    // The structure's own size: 96 bytes is the 32-bit layout, 144 the 64-bit one.
    info.cb = sizeof info;
    if (!DdeQueryConvInfo(conv, QID_SYNC, &info) || !info.hUser) return nullptr;
    auto* endpoint = reinterpret_cast<TDdeConvEndpoint*>(info.hUser);
    // Only an endpoint that is still alive is trusted.
    return std::find(endpoints_.begin(), endpoints_.end(), endpoint) != endpoints_.end() ? endpoint
                                                                                         : nullptr;
}

HDDEDATA CALLBACK TDdeMgr::Callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                    HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    if (!instance_) return nullptr;
    return instance_->HandleTransaction(type, format, conv, hsz1, hsz2, data);
}

HDDEDATA TDdeMgr::HandleTransaction(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                    HDDEDATA data) {
    DropVanishedClients();
    switch (type) {
    case XTYP_CONNECT:
        return reinterpret_cast<HDDEDATA>(static_cast<INT_PTR>(ConnectAccepted(hsz1, hsz2)));
    case XTYP_WILDCONNECT:
        return WildConnect(hsz1, hsz2);
    case XTYP_CONNECT_CONFIRM:
        ConnectConfirm(conv, hsz1);
        return nullptr;
    default:
        break;
    }
    if (!conv) return nullptr;
    TDdeConvEndpoint* endpoint = EndpointOf(conv);
    if (!endpoint) return nullptr;
    return endpoint->DdeTransaction(type, format, hsz1, hsz2, data);
}

} // namespace velkor
