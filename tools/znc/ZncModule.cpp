// The velkor network module for ZNC: lines that any attached client sends to a keyed
// channel go out as wire texts, incoming wire texts reach the clients deciphered. The line
// logic is the WeeChat plugin's portable library; this file is only ZNC's side of it.
#include "bridge/Cp1252.h"
#include "bridge/Keyedlines.h"

#include <znc/Chan.h>
#include <znc/Client.h>
#include <znc/IRCNetwork.h>
#include <znc/Modules.h>

#include <string>

namespace velkor {
namespace {

// Where a key is kept in the module's data: the prefix, then the channel as typed.
constexpr std::string_view kKeyPrefix = "key ";

bool IsCtcp(const CString& text) {
    return !text.empty() && text[0] == '\x01';
}

class TVelkorModule : public CModule {
  public:
    MODCONSTRUCTOR(TVelkorModule) {
        cipher_.SetCipherMode(TCipherMode::ECBMode);
        marks_ = TLineMarks{std::string(DefaultDecipheredMark), std::string(DefaultNoiseMark),
                            std::string(DefaultPlainMark)};
    }

    bool OnLoad(const CString&, CString& message) override {
        for (auto it = BeginNV(); it != EndNV(); ++it) {
            std::string name = it->first, key;
            if (name.rfind(kKeyPrefix, 0) != 0 || !ParseSecuredDataValue(it->second, key)) continue;
            keys_.Set("", name.substr(kKeyPrefix.size()), key);
            Wipe(key);
        }
        message = std::to_string(keys_.List().size()) + " channel key(s) loaded";
        return true;
    }

    void OnModCommand(const CString& line) override {
        CString command = line.Token(0).AsLower();
        CString channel = line.Token(1);
        if (command == "key" && !channel.empty() && !line.Token(2, true).empty()) {
            SetKey(channel, line.Token(2, true));
        } else if (command == "off" && !channel.empty()) {
            bool had = keys_.Remove("", channel);
            DelNV(std::string(kKeyPrefix) + Folded(channel));
            PutModule(had ? "key of " + channel + " forgotten: lines there go out in the clear"
                          : channel + " has no key");
        } else if (command == "list") {
            auto entries = keys_.List();
            if (entries.empty()) PutModule("no channel has a key");
            for (const auto& entry : entries)
                PutModule(entry.Channel + " " + MaskedKey(entry.Key));
        } else {
            PutModule("usage: key #chan TEXT | off #chan | list | help");
            if (command != "help") return;
            PutModule("key #chan TEXT: lines to #chan go out encrypted under TEXT (the first "
                      "16 characters count); off #chan: forget the key; list: keyed "
                      "channels (keys are never shown)");
        }
    }

    EModRet OnUserTextMessage(CTextMessage& message) override {
        CString target = message.GetTarget();
        const std::string* key = KeyOf(target);
        if (!key || IsCtcp(message.GetText())) return CONTINUE;
        TOutgoing plan = PlanOutgoing(cipher_, message.GetText(), *key);
        if (plan.Verdict != TOutgoingVerdict::Send) return Refuse(RefusalMessage(plan));
        if (plan.Wire.empty()) return CONTINUE; // an empty line hides nothing
        PutIRC("PRIVMSG " + target + " :" + plan.Wire);
        // The other clients and the playback buffer get the line as it was typed, as ZNC
        // itself would pass on a line in the clear.
        CIRCNetwork* network = GetNetwork();
        CChan* chan = network->FindChan(Bare(target));
        message.SetNick(CNick(network->GetIRCNick().GetNickMask()));
        if (chan && (!chan->AutoClearChanBuffer() || !network->IsUserOnline())) {
            CTextMessage format;
            format.Clone(message);
            format.SetNick(CNick(_NAMEDFMT(message.GetNick().GetNickMask())));
            format.SetTarget(_NAMEDFMT(target));
            format.SetText("{text}");
            chan->AddBuffer(format, message.GetText());
        }
        for (CClient* client : network->GetClients())
            if (client != GetClient()) client->PutClient(message);
        // ZNC sends nothing more; modules after this one (a log) still see the plain line.
        return HALTCORE;
    }

    EModRet OnUserActionMessage(CActionMessage& message) override {
        if (!KeyOf(message.GetTarget())) return CONTINUE;
        return Refuse("actions (/me) cannot go into an encrypted line; nothing sent");
    }

    EModRet OnChanTextMessage(CTextMessage& message) override {
        const std::string* key = KeyOf(message.GetTarget());
        if (!key || IsCtcp(message.GetText())) return CONTINUE;
        TIncoming in = ReadIncoming(cipher_, message.GetText(), *key, marks_);
        message.SetText(in.Shown);
        return CONTINUE;
    }

  private:
    static std::string Folded(const CString& channel) { return channel.AsLower(); }

    // A channel target without the status prefix of "@#chan" and "+#chan" ("+chan" is a
    // channel name of its own where "+" is a channel type).
    CString Bare(const CString& target) const {
        if (target.size() > 1 && (target[0] == '@' || target[0] == '+') &&
            GetNetwork()->IsChan(target.substr(1)))
            return target.substr(1);
        return target;
    }

    const std::string* KeyOf(const CString& target) {
        if (!GetNetwork()) return nullptr;
        CString bare = Bare(target);
        return GetNetwork()->IsChan(bare) ? keys_.Find("", bare) : nullptr;
    }

    EModRet Refuse(const std::string& why) {
        if (CClient* client = GetClient())
            client->PutClient(":" + GetModNick() + "!velkor@znc.in NOTICE " + client->GetNick() +
                              " :" + why);
        return HALT;
    }

    void SetKey(const CString& channel, const CString& text) {
        TCp1252Text key = Utf8ToCp1252(text);
        if (key.Error != TCp1252Error::None) {
            PutModule("a key must be text that code page 1252 can write; no key set");
            return;
        }
        keys_.Set("", channel, key.Bytes);
        std::string value = SecuredDataValue(key.Bytes);
        SetNV(std::string(kKeyPrefix) + Folded(channel), value);
        Wipe(value);
        PutModule("key set for " + channel + ": what is said there goes out encrypted");
        if (key.Bytes.size() > KeyTextBytes)
            PutModule("only the first 16 characters of a key count");
        Wipe(key.Bytes);
    }

    TIDEA cipher_;
    TChannelKeys keys_;
    TLineMarks marks_;
};

} // namespace
} // namespace velkor

template <> void TModInfo<velkor::TVelkorModule>(CModInfo& info) {
    info.SetWikiPage("velkor");
    info.SetHasArgs(false);
}

NETWORKMODULEDEFS(velkor::TVelkorModule,
                  "Encrypted channels that velkor.exe and WeeChat users share")
