// MyDdemanServer: topic components, server items, server conversation records and the
// server's answers to the transactions the manager routes to them.
#include "dde/MyDdemanServer.h"

#include "dde/DdeText.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace velkor {

namespace {

// A goodbye posted for a vanished client is posted again after this long.
constexpr ULONGLONG kEndRetryMs = 5000;

HDDEDATA AsResult(UINT_PTR value) {
    return reinterpret_cast<HDDEDATA>(value);
}

// The value as a client reads it: every line followed by CR LF, and one zero byte.
HDDEDATA ValueData(DWORD instance, const TDdeServerItem& item, HSZ itemHandle, UINT format) {
    const std::string text = JoinLines(item.Lines());
    return DdeCreateDataHandle(instance, reinterpret_cast<BYTE*>(const_cast<char*>(text.c_str())),
                               static_cast<DWORD>(text.size() + 1), 0, itemHandle, format, 0);
}

} // namespace

// ---- TDdeServerConv ----

TDdeServerConv::TDdeServerConv(TComponent* owner) : TComponent(owner) {
    if (TDdeMgr* manager = TDdeMgr::Instance()) manager->AddTopic(*this);
}

TDdeServerConv::~TDdeServerConv() {
    if (TDdeMgr* manager = TDdeMgr::Instance()) manager->RemoveTopic(*this);
}

// ---- TDdeServerItem ----

TDdeServerItem::TDdeServerItem(TComponent* owner) : TComponent(owner) {}

TDdeServerItem::~TDdeServerItem() = default;

void TDdeServerItem::SetLines(const std::vector<std::string>& lines) {
    if (JoinLines(lines) == JoinLines(lines_)) return;
    lines_ = lines;
    ValueChanged();
}

std::string TDdeServerItem::Text() const {
    return lines_.empty() ? std::string() : lines_.front();
}

void TDdeServerItem::SetText(const std::string& text) {
    lines_.assign(1, text);
    ValueChanged();
}

void TDdeServerItem::SetServerConv(TDdeServerConv* serverConv) {
    if (serverConv_) RemoveFreeNotification(serverConv_);
    serverConv_ = serverConv;
    if (serverConv_) FreeNotification(serverConv_);
}

HDDEDATA TDdeServerItem::PokeData(HDDEDATA data, UINT format) {
    DWORD size = 0;
    const BYTE* bytes = DdeAccessData(data, &size);
    if (!bytes) return nullptr;
    // The reported size bounds the text: a client's data need not hold a zero byte.
    std::optional<std::string> value;
    if (format == CF_UNICODETEXT) {
        std::u16string wide(size / sizeof(char16_t), u'\0');
        std::memcpy(wide.data(), bytes, wide.size() * sizeof(char16_t));
        wide.resize(std::min(wide.size(), wide.find(u'\0')));
        value = AnsiFromUtf16(wide);
    } else {
        value = std::string(
            UpToFirstZero(std::string_view(reinterpret_cast<const char*>(bytes), size)));
    }
    DdeUnaccessData(data);
    if (!value) return nullptr;
    lines_ = SplitLines(*value);
    ValueChanged();
    if (OnPokeData) OnPokeData(*this);
    return AsResult(DDE_FACK);
}

void TDdeServerItem::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == TOperation::Remove && component == serverConv_) serverConv_ = nullptr;
}

void TDdeServerItem::ValueChanged() {
    if (OnChange) OnChange(*this);
    if (TDdeMgr* manager = TDdeMgr::Instance()) manager->PostDataChange(*this);
}

std::optional<std::string> AnsiFromUtf16(std::u16string_view text) {
    if (text.empty()) return std::string();
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    BOOL defaulted = FALSE;
    // No best-fit forms: a character the code page lacks refuses the text.
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0,
                                         nullptr, &defaulted);
    if (size <= 0 || defaulted) return std::nullopt;
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, out.data(), size, nullptr,
                        &defaulted);
    if (defaulted) return std::nullopt;
    return out;
}

TDdeServerItem* FindServerItem(const TComponent* window, const TDdeServerConv* serverConv,
                               const std::string& name) {
    // A component without a name is not addressable: an empty item name finds nothing.
    if (!window || name.empty()) return nullptr;
    for (TComponent* component : window->Components()) {
        if (auto* item = dynamic_cast<TDdeServerItem*>(component);
            item && item->Name() == name && item->ServerConv() == serverConv)
            return item;
        if (dynamic_cast<TWinControl*>(component))
            if (TDdeServerItem* inner = FindServerItem(component, serverConv, name)) return inner;
    }
    return nullptr;
}

// ---- TDdeSrvrItem ----

TDdeSrvrItem::TDdeSrvrItem(DWORD instance, const std::string& itemName, TDdeServerItem& serverItem)
    : itemName_(itemName), itemHandle_(instance, itemName), serverItem_(serverItem) {}

// ---- TDdeSrvrConv ----

TDdeSrvrConv::TDdeSrvrConv(TDdeMgr& manager, HCONV conv, std::string topic)
    : manager_(manager), topic_(std::move(topic)), conv_(conv) {
    const TDdeMgr::TopicOwner owner = manager_.MatchTopic(topic_);
    serverConv_ = owner.serverConv;
    if (!serverConv_) form_ = owner.form;
    manager_.AddEndpoint(conv_, *this);
}

TDdeSrvrConv::~TDdeSrvrConv() {
    links_.clear();
    // Still open only when the manager goes first.
    const HCONV conv = conv_;
    Ended();
    if (conv) DdeDisconnect(conv);
}

void TDdeSrvrConv::Ended() {
    if (conv_) manager_.RemoveEndpoint(std::exchange(conv_, nullptr), *this);
}

bool TDdeSrvrConv::CheckClient(ULONGLONG now) {
    CONVINFO info{};
    info.cb = sizeof info;
    if (!DdeQueryConvInfo(conv_, QID_SYNC, &info)) return false;
    if (!IsWindow(info.hwndPartner) && (!endAsked_ || now - endAsked_ >= kEndRetryMs)) {
        // Wine's DdeDisconnect does nothing for a server conversation. The client's own
        // goodbye does: DDEML answers it with XTYP_DISCONNECT, which drops the record, and
        // destroys the conversation's window.
        endAsked_ = now;
        PostMessageA(info.hwnd, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(info.hwndPartner), 0);
    }
    return true;
}

TDdeServerItem* TDdeSrvrConv::FindItem(const std::string& name) const {
    const TComponent* window = form_;
    if (!window && serverConv_) window = dynamic_cast<TForm*>(serverConv_->Owner());
    return FindServerItem(window, serverConv_, name);
}

void TDdeSrvrConv::Forget(TComponent* component) {
    if (component == form_) form_ = nullptr;
    if (component == serverConv_) serverConv_ = nullptr;
    std::erase_if(links_, [component](const auto& link) {
        return static_cast<TComponent*>(&link->ServerItem()) == component;
    });
}

HDDEDATA TDdeSrvrConv::DdeTransaction(UINT type, UINT format, HSZ, HSZ hsz2, HDDEDATA data) {
    switch (type) {
    case XTYP_ADVSTART:
        return AdviseStart(format, hsz2);
    case XTYP_ADVREQ:
    case XTYP_REQUEST:
        return Request(format, hsz2);
    case XTYP_POKE:
        return Poke(format, hsz2, data);
    case XTYP_ADVSTOP:
        AdviseStop(hsz2);
        return nullptr;
    case XTYP_EXECUTE:
        // No macros are served, on a window topic or a named one.
        return nullptr;
    case XTYP_DISCONNECT:
        // Destroys this record: nothing of it may be touched afterwards.
        manager_.DropConversation(*this);
        return nullptr;
    default:
        return nullptr;
    }
}

HDDEDATA TDdeSrvrConv::Poke(UINT format, HSZ item, HDDEDATA data) {
    if (format != CF_TEXT && format != CF_UNICODETEXT) return nullptr;
    // An empty item name arrives as the zero handle; it means NONE (pokes only). A client
    // whose script language cannot write an empty word sends two quote characters.
    std::string name = DdeQueryText(manager_.DdeInstId(), item);
    if (name.empty() || name == "\"\"") name = "NONE";
    TDdeServerItem* target = FindItem(name);
    return target ? target->PokeData(data, format) : nullptr;
}

HDDEDATA TDdeSrvrConv::Request(UINT format, HSZ item) {
    const DWORD instance = manager_.DdeInstId();
    for (const auto& link : links_)
        if (DdeCmpStringHandles(link->ItemHandle(), item) == 0)
            return format == CF_TEXT
                       ? ValueData(instance, link->ServerItem(), link->ItemHandle(), CF_TEXT)
                       : nullptr;
    TDdeServerItem* target = FindItem(DdeQueryText(instance, item));
    if (!target || format != CF_TEXT) return nullptr;
    return ValueData(instance, *target, item, format);
}

HDDEDATA TDdeSrvrConv::AdviseStart(UINT format, HSZ item) {
    if (format != CF_TEXT) return nullptr;
    const std::string name = DdeQueryText(manager_.DdeInstId(), item);
    TDdeServerItem* target = FindItem(name);
    if (!target) return nullptr;
    links_.push_back(std::make_unique<TDdeSrvrItem>(manager_.DdeInstId(), name, *target));
    manager_.FreeNotification(target);
    if (!topicHandle_) topicHandle_ = DdeString(manager_.DdeInstId(), topic_);
    return AsResult(1);
}

void TDdeSrvrConv::AdviseStop(HSZ item) {
    auto it = std::find_if(links_.begin(), links_.end(), [item](const auto& link) {
        return DdeCmpStringHandles(link->ItemHandle(), item) == 0;
    });
    if (it != links_.end()) links_.erase(it);
}

} // namespace velkor
