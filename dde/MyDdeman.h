// MyDdeman: the process's one DDE manager, which owns the DDEML instance and routes every
// transaction of its callback. The client conversation that pokes text to a server is in
// MyDdemanClient.h, the server side (conversation records, server items) in
// MyDdemanServer.h.
#pragma once

#include "dde/DdeHandles.h"
#include "dde/MyDdemanClient.h"
#include "win/Forms.h"

#include <memory>
#include <stdexcept>
#include <string>
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

// Something a conversation's user handle (QID_SYNC) can name: the callback hands it the
// transactions of its conversation.
class TDdeConvEndpoint {
  public:
    virtual HDDEDATA DdeTransaction(UINT type, UINT format, HSZ hsz1, HSZ hsz2, HDDEDATA data) = 0;

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
    // Registers `name` as the service name, unregistering the previous one first.
    void SetAppName(const std::string& name);

    const std::vector<std::unique_ptr<TDdeSrvrConv>>& ServerConvs() const { return serverConvs_; }

    // Named topics: a topic component adds itself when it is made and removes itself when
    // it goes; the records of its conversations then forget it.
    void AddTopic(TDdeServerConv& topic);
    void RemoveTopic(TDdeServerConv& topic);

    // The objects that conversations' user handles (QID_SYNC) name. The callback hands a
    // transaction only to an endpoint added here and not removed since.
    void AddEndpoint(HCONV conv, TDdeConvEndpoint& endpoint);
    void RemoveEndpoint(HCONV conv, TDdeConvEndpoint& endpoint);

    // Ends the record of a server conversation that is over (its client said goodbye, or
    // DDEML has forgotten it): its topic component hears OnClose, the record is destroyed.
    void DropConversation(TDdeSrvrConv& record);

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

    // Ends the server conversations whose client window no longer exists (a client that
    // was killed or crashed says no goodbye, and Wine would keep the record and its
    // window for ever). Runs on every transaction and every few seconds.
    void DropVanishedClients();
    static constexpr UINT kSweepMs = 3000;

  private:
    static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                      HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
    HDDEDATA HandleTransaction(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                               HDDEDATA data);
    TDdeConvEndpoint* EndpointOf(HCONV conv) const;

    bool ConnectAccepted(HSZ topic, HSZ service) const;
    HDDEDATA WildConnect(HSZ topic, HSZ service) const;
    void ConnectConfirm(HCONV conv, HSZ topic);
    void ResetAppName();

    void Notification(TComponent* component, TOperation operation) override;

    static inline TDdeMgr* instance_ = nullptr;

    TApplication& application_;
    DdeInstance ddeInstance_;
    std::string appName_;
    DdeString appNameHandle_;
    std::vector<TDdeConvEndpoint*> endpoints_;
    std::vector<std::unique_ptr<TDdeSrvrConv>> serverConvs_;
    std::vector<TDdeServerConv*> topicConvs_;
    std::unique_ptr<TMessageWindow> sweepWindow_; // its timer runs DropVanishedClients
};

} // namespace velkor
