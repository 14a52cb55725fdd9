// MyDdemanServer: the server side of the DDE unit: named topic components, server items
// with their value, the record of each conversation a client opened to the program and its
// advise links, and the answers to poke, request, advise and execute.
#pragma once

#include "dde/MyDdeman.h"

#include <optional>
#include <string>
#include <string_view>

namespace velkor {

// A named topic: a conversation on a topic equal to its name belongs to it. Topic
// components come before window captions when a topic is matched.
class TDdeServerConv : public TComponent {
  public:
    explicit TDdeServerConv(TComponent* owner);
    ~TDdeServerConv() override;

    TNotifyEvent OnOpen;
    TNotifyEvent OnClose;
};

// A value that clients poke, request and advise on, found by its component name.
class TDdeServerItem : public TComponent {
  public:
    explicit TDdeServerItem(TComponent* owner);
    ~TDdeServerItem() override;

    const std::vector<std::string>& Lines() const { return lines_; }
    // Takes the lines and runs the value-changed step, only when they differ as text.
    void SetLines(const std::vector<std::string>& lines);
    // The first line, or "".
    std::string Text() const;
    // The value becomes this one line; the value-changed step always runs.
    void SetText(const std::string& text);

    TDdeServerConv* ServerConv() const { return serverConv_; }
    void SetServerConv(TDdeServerConv* serverConv);

    // Takes a poked value from a data handle, CF_TEXT or CF_UNICODETEXT (turned into the
    // ANSI code page): answers DDE_FACK, or 0 when the data cannot be read or a character
    // has no form in the ANSI code page. Handlers run inside the poke; they must not destroy
    // the item.
    HDDEDATA PokeData(HDDEDATA data, UINT format = CF_TEXT);

    TNotifyEvent OnChange;
    TNotifyEvent OnPokeData;

  protected:
    void Notification(TComponent* component, TOperation operation) override;

  private:
    void ValueChanged();

    std::vector<std::string> lines_;
    TDdeServerConv* serverConv_ = nullptr;
};

// UTF-16 text in the ANSI code page; std::nullopt when a character has no form there.
std::optional<std::string> AnsiFromUtf16(std::u16string_view text);

// The server item named `name` (exactly, case and all) among the components `window`
// owns, depth first through windowed controls, whose ServerConv is `serverConv`.
TDdeServerItem* FindServerItem(const TComponent* window, const TDdeServerConv* serverConv,
                               const std::string& name);

// An advise link a client started on a server conversation.
class TDdeSrvrItem {
  public:
    TDdeSrvrItem(DWORD instance, const std::string& itemName, TDdeServerItem& serverItem);

    const std::string& ItemName() const { return itemName_; }
    HSZ ItemHandle() const { return itemHandle_.get(); }
    TDdeServerItem& ServerItem() const { return serverItem_; }

  private:
    std::string itemName_;
    DdeString itemHandle_;
    TDdeServerItem& serverItem_;
};

// The record of one conversation a client opened to this program.
class TDdeSrvrConv : private TDdeConvEndpoint {
  public:
    TDdeSrvrConv(TDdeMgr& manager, HCONV conv, std::string topic);
    ~TDdeSrvrConv();
    TDdeSrvrConv(const TDdeSrvrConv&) = delete;
    TDdeSrvrConv& operator=(const TDdeSrvrConv&) = delete;

    const std::string& Topic() const { return topic_; }
    HSZ TopicHandle() const { return topicHandle_.get(); }
    TForm* Form() const { return form_; }
    TDdeServerConv* ServerConv() const { return serverConv_; }
    HCONV Conv() const { return conv_; }
    const std::vector<std::unique_ptr<TDdeSrvrItem>>& AdviseLinks() const { return links_; }

    TDdeServerItem* FindItem(const std::string& name) const;

    // A component this record names was destroyed.
    void Forget(TComponent* component);
    // Whether DDEML still knows the conversation. When the client's window is gone (a
    // client that was killed or crashed says no goodbye, and Wine would keep the record and
    // its window for ever), posts the client's goodbye for it, again every few seconds.
    bool CheckClient(ULONGLONG now);
    // The conversation is over: nothing to disconnect any more.
    void Ended();

  private:
    HDDEDATA DdeTransaction(UINT type, UINT format, HSZ hsz1, HSZ hsz2, HDDEDATA data) override;
    HDDEDATA Poke(UINT format, HSZ item, HDDEDATA data);
    HDDEDATA Request(UINT format, HSZ item);
    HDDEDATA AdviseStart(UINT format, HSZ item);
    void AdviseStop(HSZ item);

    TDdeMgr& manager_;
    std::string topic_;
    DdeString topicHandle_;
    TForm* form_ = nullptr;
    TDdeServerConv* serverConv_ = nullptr;
    HCONV conv_;
    ULONGLONG endAsked_ = 0; // when its vanished client's goodbye was posted for it
    std::vector<std::unique_ptr<TDdeSrvrItem>> links_;
};

} // namespace velkor
