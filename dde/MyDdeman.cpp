// MyDdeman: the DDE manager (instance, service name, callback routing) and the client
// conversation.
#include "MyDdeman.h"

#include "DdeText.h"
#include "MyDdemanServer.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace velkor {

// ---- EDdeError ----

EDdeError::EDdeError(unsigned code)
    : std::runtime_error(MessageFor(code)), code_(code), address_(__builtin_return_address(0)) {}

std::string EDdeError::MessageFor(unsigned code) {
    const char* format = "An error returned from DDE  ($0%X)";
    if (code == DMLERR_LOW_MEMORY || code == DMLERR_MEMORY_ERROR)
        format = "Error occurred when DDE ran out of memory ($0%X)";
    else if (code == DMLERR_NO_CONV_ESTABLISHED)
        format = "DDE Error - conversation not established ($0%X)";
    char text[96];
    std::snprintf(text, sizeof text, format, code);
    return text;
}

int ShowStartupError(const EDdeError& error) {
    return ShowStartupError("EDdeError", error.Address(), error.what());
}

// ---- TDdeMgr ----

TDdeMgr::TDdeMgr(TApplication& application) : TComponent(&application), application_(application) {
    if (instance_)
        throw std::logic_error("a second DDE manager in one process");
    DWORD id = 0;
    // DdeInitializeA answers the error itself; DdeGetLastError needs the instance that
    // was not made.
    const UINT result = DdeInitializeA(&id, Callback, 0, 0);
    if (result != DMLERR_NO_ERROR)
        throw EDdeError(result);
    ddeInstance_ = DdeInstance(id);
    instance_ = this;
    SetAppName(ServiceNameFromPath(ModuleFileName()));
}

TDdeMgr::~TDdeMgr() {
    serverConvs_.clear();
    ResetAppName();
    ddeInstance_.reset();
    instance_ = nullptr;
}

void TDdeMgr::SetAppName(const std::string& name) {
    ResetAppName();
    appName_ = name;
    appNameHandle_ = DdeString(DdeInstId(), appName_);
    if (appNameHandle_)
        DdeNameService(DdeInstId(), appNameHandle_.get(), nullptr, DNS_REGISTER);
}

void TDdeMgr::ResetAppName() {
    if (appNameHandle_)
        DdeNameService(DdeInstId(), appNameHandle_.get(), nullptr, DNS_UNREGISTER);
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
    if (!topic || !ConnectAccepted(topic, service))
        return nullptr;
    HSZPAIR pairs[2] = {{appNameHandle_.get(), topic}, {nullptr, nullptr}};
    return DdeCreateDataHandle(DdeInstId(), reinterpret_cast<BYTE*>(pairs), sizeof pairs, 0,
                               nullptr, CF_TEXT, 0);
}

void TDdeMgr::ConnectConfirm(HCONV conv, HSZ topic) {
    auto record = std::make_unique<TDdeSrvrConv>(*this, conv, DdeQueryText(DdeInstId(), topic));
    // Records name these components: hear of their destruction.
    if (record->ServerConv())
        FreeNotification(record->ServerConv());
    if (record->Form())
        FreeNotification(record->Form());
    DdeSetUserHandle(conv, QID_SYNC, reinterpret_cast<DWORD_PTR>(&record->Endpoint()));
    TDdeServerConv* serverConv = record->ServerConv();
    serverConvs_.push_back(std::move(record));
    if (serverConv && serverConv->OnOpen)
        serverConv->OnOpen(*serverConv);
}

void TDdeMgr::ServerDisconnected(TDdeSrvrConv& record) {
    if (record.ServerConv() && record.ServerConv()->OnClose)
        record.ServerConv()->OnClose(*record.ServerConv());
    DdeSetUserHandle(record.conv_, QID_SYNC, 0);
    record.conv_ = nullptr;
    auto it = std::find_if(serverConvs_.begin(), serverConvs_.end(),
                           [&record](const auto& r) { return r.get() == &record; });
    if (it != serverConvs_.end())
        serverConvs_.erase(it);
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
        if (!owner)
            return;
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

void TDdeMgr::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation != TOperation::Remove)
        return;
    topicConvs_.erase(std::remove(topicConvs_.begin(), topicConvs_.end(), component),
                      topicConvs_.end());
    for (const auto& record : serverConvs_)
        record->Forget(component);
}

TDdeConvEndpoint* TDdeMgr::EndpointOf(HCONV conv) const {
    CONVINFO info{};
    // The structure's own size: 96 bytes is the 32-bit layout, 144 the 64-bit one.
    info.cb = sizeof info;
    if (!DdeQueryConvInfo(conv, QID_SYNC, &info) || !info.hUser)
        return nullptr;
    auto* endpoint = reinterpret_cast<TDdeConvEndpoint*>(info.hUser);
    // Only an object of this manager that is still alive is trusted.
    if (std::find(clients_.begin(), clients_.end(), endpoint) != clients_.end())
        return endpoint;
    for (const auto& record : serverConvs_)
        if (&record->Endpoint() == endpoint)
            return endpoint;
    return nullptr;
}

HDDEDATA CALLBACK TDdeMgr::Callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                    HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    if (!instance_)
        return nullptr;
    return instance_->HandleTransaction(type, format, conv, hsz1, hsz2, data);
}

HDDEDATA TDdeMgr::HandleTransaction(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                    HDDEDATA data) {
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
    if (!conv)
        return nullptr;
    TDdeConvEndpoint* endpoint = EndpointOf(conv);
    if (!endpoint)
        return nullptr;
    return endpoint->DdeTransaction(type, format, hsz1, hsz2, data);
}

// ---- TDdeClientConv ----

TDdeClientConv::TDdeClientConv(TComponent* owner) : TComponent(owner) {
    if (TDdeMgr* manager = TDdeMgr::Instance())
        manager->clients_.push_back(this);
}

TDdeClientConv::~TDdeClientConv() {
    // The owner may be half destroyed already: no events from here on.
    OnClose = nullptr;
    OnOpen = nullptr;
    CloseConversation();
    if (TDdeMgr* manager = TDdeMgr::Instance()) {
        auto& clients = manager->clients_;
        TDdeConvEndpoint* self = this;
        clients.erase(std::remove(clients.begin(), clients.end(), self), clients.end());
    }
}

bool TDdeClientConv::LinkTo(const std::string& service, const std::string& topic) {
    CloseConversation();
    service_ = service;
    topic_ = topic;
    const bool open = OpenConversation();
    if (!open) {
        service_.clear();
        topic_.clear();
    }
    return open;
}

bool TDdeClientConv::Connect(DWORD instance) {
    CONVCONTEXT context{};
    static_assert(sizeof context == 36);
    context.cb = sizeof context;
    context.iCodePage = kDdeCodePage;
    HCONV conv = DdeConnect(instance, serviceHandle_.get(), topicHandle_.get(), &context);
    if (!conv)
        return false;
    conv_ = DdeConv(conv);
    DdeSetUserHandle(conv, QID_SYNC,
                     reinterpret_cast<DWORD_PTR>(static_cast<TDdeConvEndpoint*>(this)));
    CONVINFO info{};
    info.cb = sizeof info;
    dataFormat_ = DdeQueryConvInfo(conv, QID_SYNC, &info) && info.wFmt ? info.wFmt : CF_TEXT;
    return true;
}

bool TDdeClientConv::OpenConversation() {
    NoticeServerEnd();
    TDdeMgr* manager = TDdeMgr::Instance();
    if (conv_ || !manager)
        return false;
    if (service_.empty() && topic_.empty())
        return false;
    const DWORD instance = manager->DdeInstId();
    if (!serviceHandle_)
        serviceHandle_ = DdeString(instance, service_);
    if (!topicHandle_)
        topicHandle_ = DdeString(instance, topic_);
    if (!Connect(instance) && !(service_.empty() && serviceApplication_.empty())) {
        const std::string commandLine =
            serviceApplication_.empty() ? service_ + " " + topic_ : serviceApplication_;
        if (WinExec(commandLine.c_str(), SW_SHOWMINNOACTIVE) >= 32)
            Connect(instance);
    }
    if (!conv_)
        return false;
    Open();
    return true;
}

void TDdeClientConv::CloseConversation() {
    if (conv_) {
        Close();
        HCONV old = conv_.release();
        DdeSetUserHandle(old, QID_SYNC, 0);
        DdeDisconnect(old);
    }
    serviceHandle_.reset();
    topicHandle_.reset();
    service_.clear();
    topic_.clear();
}

bool TDdeClientConv::PokeText(const std::string& item, std::string_view text) {
    NoticeServerEnd();
    TDdeMgr* manager = TDdeMgr::Instance();
    if (!conv_ || !manager)
        return false;
    const DWORD instance = manager->DdeInstId();
    DdeString itemHandle(instance, item);
    if (!itemHandle)
        return false;
    const std::string bytes(UpToFirstZero(text)); // std::string keeps the closing zero
    DdeData data(DdeCreateDataHandle(instance,
                                     reinterpret_cast<BYTE*>(const_cast<char*>(bytes.c_str())),
                                     static_cast<DWORD>(bytes.size() + 1), 0, itemHandle.get(),
                                     dataFormat_, 0));
    if (!data)
        return false;
    DWORD status = 0;
    // The transaction takes the data handle over, whatever its outcome. A refused poke
    // still returns non-zero: only DDE_FACK in the status word says it was taken.
    const HDDEDATA done =
        DdeClientTransaction(reinterpret_cast<BYTE*>(data.release()), 0xFFFFFFFF, conv_.get(),
                             itemHandle.get(), dataFormat_, XTYP_POKE, kPokeTimeoutMs, &status);
    return done && (status & DDE_FACK);
}

void TDdeClientConv::Close() {
    if (OnClose)
        OnClose(*this);
}

void TDdeClientConv::Open() {
    if (OnOpen)
        OnOpen(*this);
}

void TDdeClientConv::ServerDisconnect() {
    if (!conv_)
        return;
    Close();
    // DDEML ended the conversation: the handle is dead and needs no DdeDisconnect.
    conv_.release();
}

// Wine's DDEML marks a conversation the server terminated but never sends the client
// XTYP_DISCONNECT: the conversation's status shows the end instead.
void TDdeClientConv::NoticeServerEnd() {
    if (!conv_)
        return;
    CONVINFO info{};
    info.cb = sizeof info;
    if (!DdeQueryConvInfo(conv_.get(), QID_SYNC, &info) || (info.wStatus & ST_TERMINATED) ||
        !(info.wStatus & ST_CONNECTED)) {
        ServerDisconnect();
        return;
    }
    // A server that died sent no WM_DDE_TERMINATE: its window is just gone. Posting to it
    // would leave Wine a conversation that DdeDisconnect refuses and that every later
    // DdeConnect to the same service and topic hands back, dead. Disconnected now, while
    // it still counts as connected, it is forgotten and a relink gets a fresh one.
    if (!IsWindow(info.hwndPartner)) {
        Close();
        HCONV old = conv_.release();
        DdeSetUserHandle(old, QID_SYNC, 0);
        DdeDisconnect(old);
    }
}

HDDEDATA TDdeClientConv::DdeTransaction(UINT type, UINT, HSZ, HSZ, HDDEDATA) {
    if (type == XTYP_DISCONNECT)
        ServerDisconnect();
    return nullptr;
}

} // namespace velkor
