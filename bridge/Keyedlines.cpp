// Keyedlines: outgoing and incoming decisions on keyed channels, and the key table.
#include "bridge/Keyedlines.h"

#include "chat/Chatlines.h"
#include "chat/Linecodec.h"

#include <algorithm>

namespace velkor {

namespace {

bool IsControl(unsigned char b) {
    return (b < 0x20 && b != '\t') || b == 0x7F;
}

constexpr char kHexDigits[] = "0123456789abcdef";

std::string Hex(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        out += kHexDigits[c >> 4];
        out += kHexDigits[c & 15];
    }
    return out;
}

bool Unhex(std::string_view hex, std::string& out) {
    if (hex.empty() || hex.size() % 2) return false;
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = value(hex[i]), lo = value(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi << 4 | lo);
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

constexpr std::string_view kSecuredPrefix = "velkor_key_";

} // namespace

TOutgoing PlanOutgoing(TIDEA& cipher, std::string_view utf8Line, std::string_view key) {
    TOutgoing plan;
    TCp1252Text text = Utf8ToCp1252(utf8Line);
    if (text.Error == TCp1252Error::InvalidUtf8) {
        plan.Verdict = TOutgoingVerdict::InvalidUtf8;
        return plan;
    }
    if (text.Error == TCp1252Error::NoForm) {
        plan.Verdict = TOutgoingVerdict::NoForm;
        plan.Character = text.Character;
        return plan;
    }
    // The receiving side takes control characters for the noise of a wrong key, and
    // velkor.exe would show them as boxes: refuse them here rather than send them.
    for (unsigned char b : text.Bytes) {
        if (IsControl(b)) {
            plan.Verdict = TOutgoingVerdict::ControlCharacter;
            plan.Character = b;
            return plan;
        }
    }
    if (text.Bytes.empty()) return plan;
    plan.Wire = chat::EncryptLine(cipher, text.Bytes, key);
    Wipe(text.Bytes);
    // A line over 1024 bytes gives the empty text; it is far over the limit too.
    if (plan.Wire.empty() || plan.Wire.size() > chat::WireLimit) {
        plan.Wire.clear();
        plan.Verdict = TOutgoingVerdict::OverLimit;
    }
    return plan;
}

std::string RefusalMessage(const TOutgoing& plan) {
    switch (plan.Verdict) {
    case TOutgoingVerdict::Send:
        return {};
    case TOutgoingVerdict::OverLimit:
        return std::string(chat::OverLimitMessage);
    case TOutgoingVerdict::NoForm:
        return "\"" + Utf8Of(plan.Character) + "\" (" + CodePointName(plan.Character) +
               ") has no form in the Windows code page 1252 that velkor lines are written "
               "in; nothing sent";
    case TOutgoingVerdict::ControlCharacter:
        return "control and formatting characters (" + CodePointName(plan.Character) +
               ") cannot go into an encrypted line; nothing sent";
    case TOutgoingVerdict::InvalidUtf8:
        return "the line is not valid UTF-8; nothing sent";
    }
    return {};
}

std::size_t WireCipherBytes(std::string_view text) {
    if (text.size() < 2) return 0;
    std::size_t body = text.size() - 1;
    if (body % 4 != 0) return 0;
    // 4 x ceil(n / 3) characters for n = 8 x k cipher bytes: n is the largest multiple of 8
    // that the groups can hold, and it must need every group.
    std::size_t groups = body / 4;
    std::size_t n = groups * 3 / 8 * 8;
    if (n == 0 || n > chat::MaxLineBytes || (n + 2) / 3 != groups) return 0;
    if (text[0] != static_cast<char>('0' + n % 3)) return 0;
    bool armour = std::all_of(text.begin() + 1, text.end(), [](char c) {
        auto b = static_cast<unsigned char>(c);
        return b >= 33 && b <= 96;
    });
    return armour ? n : 0;
}

bool IsWireText(std::string_view text) {
    return WireCipherBytes(text) != 0;
}

bool LooksDeciphered(std::string_view cp1252, std::size_t n) {
    if (cp1252.empty() || cp1252.size() + 8 <= n) return false;
    for (char c : cp1252) {
        auto b = static_cast<unsigned char>(c);
        if (IsControl(b) || !Cp1252Character(b)) return false;
    }
    return true;
}

std::string FoldChannel(std::string_view channel) {
    std::string out(channel);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string TargetChannel(std::string_view target,
                          const std::function<bool(std::string_view)>& keyed) {
    if (keyed(target)) return std::string(target);
    std::size_t at = target.find_first_not_of("@+%~");
    if (at != 0 && at != std::string_view::npos && keyed(target.substr(at)))
        return std::string(target.substr(at));
    return std::string(target);
}

TIncoming ReadIncoming(TIDEA& cipher, std::string_view text, std::string_view key,
                       const TLineMarks& marks) {
    TIncoming in;
    std::size_t n = WireCipherBytes(text);
    if (n == 0) {
        in.Shown = marks.Plain + std::string(text);
        return in;
    }
    std::string plain = chat::DecryptLine(cipher, text, key);
    if (LooksDeciphered(plain, n)) {
        in.Kind = TIncomingKind::Deciphered;
        in.Shown = marks.Deciphered + *Cp1252ToUtf8(plain);
    } else {
        in.Kind = TIncomingKind::Noise;
        in.Shown = marks.Noise + std::string(text);
    }
    Wipe(plain);
    return in;
}

TChannelKeys::~TChannelKeys() {
    for (auto& [name, entry] : keys_)
        Wipe(entry.Key);
}

TChannelKeys::TName TChannelKeys::Name(std::string_view server, std::string_view channel) {
    return {std::string(server), FoldChannel(channel)};
}

void TChannelKeys::Set(std::string_view server, std::string_view channel, std::string_view key) {
    TEntry& entry = keys_[Name(server, channel)];
    Wipe(entry.Key);
    entry = TEntry{std::string(server), std::string(channel), std::string(key)};
}

bool TChannelKeys::Remove(std::string_view server, std::string_view channel) {
    auto it = keys_.find(Name(server, channel));
    if (it == keys_.end()) return false;
    Wipe(it->second.Key);
    keys_.erase(it);
    return true;
}

const std::string* TChannelKeys::Find(std::string_view server, std::string_view channel) const {
    auto it = keys_.find(Name(server, channel));
    return it == keys_.end() ? nullptr : &it->second.Key;
}

std::vector<TChannelKeys::TEntry> TChannelKeys::List() const {
    std::vector<TEntry> out;
    for (const auto& [name, entry] : keys_)
        out.push_back(entry);
    return out;
}

std::string MaskedKey(std::string_view key) {
    return key.empty() ? "(empty)" : "********";
}

void Wipe(std::string& s) {
    volatile char* p = s.data();
    for (std::size_t i = 0; i < s.size(); ++i)
        p[i] = 0;
    s.clear();
}

std::string SecuredDataName(std::string_view server, std::string_view channel) {
    // Secured data names are option names: hexadecimal keeps any server or channel safe.
    return std::string(kSecuredPrefix) + Hex(server) + "_" + Hex(FoldChannel(channel));
}

bool ParseSecuredDataName(std::string_view name, std::string& server, std::string& channel) {
    if (name.substr(0, kSecuredPrefix.size()) != kSecuredPrefix) return false;
    name.remove_prefix(kSecuredPrefix.size());
    std::size_t sep = name.find('_');
    if (sep == std::string_view::npos) return false;
    return Unhex(name.substr(0, sep), server) && Unhex(name.substr(sep + 1), channel);
}

std::string SecuredDataValue(std::string_view key) {
    return Hex(key);
}

bool ParseSecuredDataValue(std::string_view value, std::string& key) {
    return Unhex(value, key);
}

bool SecuredDataEncrypted(std::string_view secConf) {
    bool inData = false;
    while (!secConf.empty()) {
        std::size_t end = secConf.find('\n');
        std::string_view line = Trim(secConf.substr(0, end));
        secConf.remove_prefix(end == std::string_view::npos ? secConf.size() : end + 1);
        if (!line.empty() && line.front() == '[') {
            inData = line == "[data]";
            continue;
        }
        if (!inData || line.substr(0, 14) != "__passphrase__") continue;
        std::string_view rest = Trim(line.substr(14));
        if (rest.empty() || rest.front() != '=') continue;
        return Trim(rest.substr(1)) == "on";
    }
    return false;
}

} // namespace velkor
