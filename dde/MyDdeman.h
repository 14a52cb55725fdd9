// MyDdeman: the process's one DDE manager, which owns the DDEML instance and routes every
// transaction of its callback, and the client conversation that pokes text to a server.
// The server side (conversation records, server items) is in MyDdemanServer.h.
#pragma once

#include "DdeHandles.h"
#include "Forms.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velkor {

class TDdeServerConv;
class TDdeServerItem;
class TDdeSrvrConv;

// DDE could not be initialised. Code() is the DDEML error; Address() the code that raised it.
class EDdeError : public std::runtime_error {
public:
    explicit EDdeError(unsigned code);
    unsigned Code() const { return code_; }
    const void* Address() const { return address_; }
    static std::string MessageFor(unsigned code);

private:
    unsigned code_;
    const void* address_;
};

// Shows an EDdeError raised at program start in the task-modal "Application Error" box;
// returns the program's exit code, 1.
int ShowStartupError(const EDdeError& error);

// Something a conversation's user handle (QID_SYNC) can name: the callback hands it the
// transactions of its conversation.
class TDdeConvEndpoint {
public:
    virtual HDDEDATA DdeTransaction(UINT type, UINT format, HSZ hsz1, HSZ hsz2,
                                    HDDEDATA data) = 0;

protected:
    ~TDdeConvEndpoint() = default;
};

// The one DDE manager of the process. Create it, owned by the application, before any
// window and before any other DDE component; it is destroyed after them.
class TDdeMgr : public TComponent {
public:
    explicit TDdeMgr(TApplication& application); // throws EDdeError
    ~TDdeMgr() override;

    static TDdeMgr* Instance() { return instance_; }

    TApplication& Application() const { return application_; }
    DWORD DdeInstId() const { return ddeInstance_.get(); }
    const std::string& AppName() const { return appName_; }
    HSZ AppNameHandle() const { return appNameHandle_.get(); }
    // Registers `name` as the service name, unregistering the previous one first.
    void SetAppName(const std::string& name);

    const std::vector<std::unique_ptr<TDdeSrvrConv>>& ServerConvs() const { return serverConvs_; }

    // The named topic component, else the form, whose name or caption equals `topic`
    // without regard to case (user locale); both none when the topic is not served.
    struct TopicOwner {
        TDdeServerConv* serverConv = nullptr;
        TForm* form = nullptr;
        explicit operator bool() const { return serverConv || form; }
    };
    TopicOwner MatchTopic(const std::string& topic) const;

    // The value-changed step's advise: posts the first advise link on the item's topic.
    void PostDataChange(TDdeServerItem& item);

private:
    friend class TDdeClientConv;
    friend class TDdeServerConv;
    friend class TDdeSrvrConv;

    static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                      HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
    HDDEDATA HandleTransaction(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                               HDDEDATA data);
    TDdeConvEndpoint* EndpointOf(HCONV conv) const;

    bool ConnectAccepted(HSZ topic, HSZ service) const;
    HDDEDATA WildConnect(HSZ topic, HSZ service) const;
    void ConnectConfirm(HCONV conv, HSZ topic);
    void ServerDisconnected(TDdeSrvrConv& record);
    void ResetAppName();

    void Notification(TComponent* component, TOperation operation) override;

    static inline TDdeMgr* instance_ = nullptr;

    TApplication& application_;
    DdeInstance ddeInstance_;
    std::string appName_;
    DdeString appNameHandle_;
    std::vector<std::unique_ptr<TDdeSrvrConv>> serverConvs_;
    std::vector<TDdeServerConv*> topicConvs_;
    std::vector<TDdeConvEndpoint*> clients_;
};

// A client conversation: links to a service and topic, and pokes text to it.
class TDdeClientConv : public TComponent, private TDdeConvEndpoint {
public:
    static constexpr DWORD kPokeTimeoutMs = 10000;

    explicit TDdeClientConv(TComponent* owner);
    ~TDdeClientConv() override;

    // Closes, then opens a conversation with `service` and `topic`; true when one is open.
    bool LinkTo(const std::string& service, const std::string& topic);
    bool OpenConversation();
    void CloseConversation();
    // Pokes `text` up to its first zero byte, plus one zero byte, in a synchronous
    // transaction; true only when the server acknowledged it (DDE_FACK).
    bool PokeText(const std::string& item, std::string_view text);

    const std::string& DdeService() const { return service_; }
    const std::string& DdeTopic() const { return topic_; }
    const std::string& ServiceApplication() const { return serviceApplication_; }
    void SetServiceApplication(std::string commandLine) {
        serviceApplication_ = std::move(commandLine);
    }
    HCONV Conv() const { return conv_.get(); }
    UINT DataFormat() const { return dataFormat_; }

    TNotifyEvent OnClose;
    TNotifyEvent OnOpen;

protected:
    virtual void Close();
    virtual void Open();

private:
    HDDEDATA DdeTransaction(UINT type, UINT format, HSZ hsz1, HSZ hsz2, HDDEDATA data) override;
    bool Connect(DWORD instance);
    void ServerDisconnect();
    void NoticeServerEnd();

    std::string service_;
    std::string topic_;
    std::string serviceApplication_;
    DdeConv conv_;
    DdeString serviceHandle_;
    DdeString topicHandle_;
    UINT dataFormat_ = CF_TEXT;
};

} // namespace velkor
