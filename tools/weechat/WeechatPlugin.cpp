// WeechatPlugin: the velkor plugin for WeeChat. Thin glue: the /velkor command, the options,
// the secured-data store and the IRC modifiers that hand channel messages to Keyedlines.
#include "Version.h"
#include "bridge/Keyedlines.h"

#include <weechat/weechat-plugin.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

// WeeChat finds these by name: they stay visible while everything else is hidden.
#pragma GCC visibility push(default)
extern "C" {
WEECHAT_PLUGIN_NAME("velkor")
WEECHAT_PLUGIN_DESCRIPTION("Encrypted channels in velkor's line format (IDEA, code page 1252)")
WEECHAT_PLUGIN_AUTHOR("velkor")
WEECHAT_PLUGIN_VERSION(VELKOR_VERSION)
WEECHAT_PLUGIN_LICENSE("free")
WEECHAT_PLUGIN_PRIORITY(1000)

struct t_weechat_plugin* weechat_plugin = nullptr;

int weechat_plugin_init(struct t_weechat_plugin* plugin, int argc, char* argv[]);
int weechat_plugin_end(struct t_weechat_plugin* plugin);
}
#pragma GCC visibility pop

namespace velkor {
namespace {

struct TOption {
    const char* Name;
    std::string_view Default;
    const char* Description;
};

const TOption kOptions[] = {
    {"prefix", DefaultDecipheredMark, "text put before a line that came encrypted and was read"},
    {"warning", DefaultNoiseMark,
     "text put before an encrypted line that the channel's key does not read (shown as received)"},
    {"plain", DefaultPlainMark,
     "text put before a line of a keyed channel that came in the clear (a sender without the "
     "key cannot make such a line look deciphered)"},
    {"log_keyed", "off",
     "on: WeeChat's logger writes keyed channels, deciphered, to its files; off: keyed "
     "channels are not logged (their logger.level option is 0 while they are keyed)"},
    {"keyed_channels", "",
     "channels that had a key, as server/channel separated by commas (no key here): what is "
     "typed there is refused, not sent in the clear, until the key is set again or /velkor off "
     "says so; kept over /upgrade, /plugin reload and restarts"},
    {"save_keys", "off",
     "on: keep keys in WeeChat's secured data (needs a passphrase, /secure passphrase); off: "
     "keys live in memory only and are gone when WeeChat quits"},
};

// Strings WeeChat hands over may be null.
std::string Str(const char* s) {
    return s ? s : "";
}

// An info of WeeChat's; the text it returns is ours to free.
std::string Info(const char* name, const std::string& arguments) {
    char* value = weechat_info_get(name, arguments.c_str());
    std::string out = Str(value);
    std::free(value);
    return out;
}

// RAII for hashtables WeeChat gives or takes.
struct HashtableFree {
    void operator()(t_hashtable* h) const { weechat_hashtable_free(h); }
};
using UniqueHashtable = std::unique_ptr<t_hashtable, HashtableFree>;

// Buffer pointers travel as text ("0x55d0c0ffee00").
t_gui_buffer* BufferFromText(const char* text) {
    if (!text || !*text) return nullptr;
    return reinterpret_cast<t_gui_buffer*>(std::strtoull(text, nullptr, 16));
}

// Where a message goes and what it says, as WeeChat's IRC parser sees it.
struct TParsed {
    std::string Channel, Text;
    long TextAt = -1; // offset of the text in the message, -1 when there is none
};

TParsed ParseIrc(const char* server, const char* message) {
    TParsed out;
    UniqueHashtable in(weechat_hashtable_new(8, WEECHAT_HASHTABLE_STRING, WEECHAT_HASHTABLE_STRING,
                                             nullptr, nullptr));
    if (!in) return out;
    weechat_hashtable_set(in.get(), "message", message);
    weechat_hashtable_set(in.get(), "server", server);
    UniqueHashtable parsed(weechat_info_get_hashtable("irc_message_parse", in.get()));
    if (!parsed) return out;
    out.Channel = Str(static_cast<const char*>(weechat_hashtable_get(parsed.get(), "channel")));
    out.Text = Str(static_cast<const char*>(weechat_hashtable_get(parsed.get(), "text")));
    std::string at = Str(static_cast<const char*>(weechat_hashtable_get(parsed.get(), "pos_text")));
    if (!at.empty()) out.TextAt = std::strtol(at.c_str(), nullptr, 10);
    return out;
}

// The message with its text replaced; the new text may hold spaces, so it goes in as the
// trailing parameter.
char* WithText(std::string_view message, long textAt, std::string_view text) {
    if (textAt < 0 || static_cast<std::size_t>(textAt) > message.size()) return nullptr;
    std::string out(message.substr(0, static_cast<std::size_t>(textAt)));
    if (out.empty() || out.back() != ':') out += ':';
    out += text;
    return strdup(out.c_str());
}

bool IsCtcp(std::string_view text) {
    return !text.empty() && text.front() == '\x01';
}

// "server/channel" with the channel folded, as keyed_channels keeps it.
std::string KeyedName(std::string_view server, std::string_view channel) {
    return std::string(server) + "/" + FoldChannel(channel);
}

constexpr const char* kUsage =
    "usage: /velkor key [-server NAME] CHANNEL TEXT | /velkor off [-server NAME] [CHANNEL] | "
    "/velkor list";

class TPlugin {
  public:
    TPlugin() { cipher_.SetCipherMode(TCipherMode::ECBMode); }

    void Hook();
    void LoadSavedKeys();

  private:
    static int CommandCb(const void* self, void*, t_gui_buffer* buffer, int argc, char** argv,
                         char** argv_eol);
    static int MeCb(const void* self, void*, t_gui_buffer* buffer, const char* command);
    static void LoadKeyCb(void* self, t_hashtable*, const char* name, const char* value);
    static int SaveKeysCb(const void* self, void*, const char* option, const char* value);
    static char* InputCb(const void* self, void*, const char*, const char* modifierData,
                         const char* string);
    static char* OutCb(const void* self, void*, const char*, const char* server,
                       const char* string);
    static int MsgCb(const void* self, void*, t_gui_buffer* buffer, const char* command);
    static int SecureCb(const void* self, void*, t_gui_buffer* buffer, const char* command);
    static int ChannelOpenedCb(const void* self, void*, const char*, const char*, void* data);
    static int LogKeyedCb(const void* self, void*, const char* option, const char* value);
    static char* InCb(const void* self, void*, const char*, const char* server, const char* string);
    static int GiveBackCb(const void* self, void*, int);

    // A refused typed line goes back into the input line once the keys that came with it
    // (the rest of a paste) have been handled, so that nothing is glued onto it.
    void GiveBack(t_gui_buffer* buffer, const char* line);

    int Command(t_gui_buffer* buffer, int argc, char** argv, char** argv_eol);
    void SetKey(t_gui_buffer* buffer, const std::string& server, const std::string& channel,
                const char* keyText);
    void KeyOff(t_gui_buffer* buffer, const std::string& server, const std::string& channel);
    void List(t_gui_buffer* buffer);

    const std::string* KeyOfBuffer(t_gui_buffer* buffer, std::string* channel = nullptr) const;
    // The channel a target names: "#chan" itself, or the channel of "@#chan" and "+#chan"
    // (a message to its operators or voiced members) when that one is keyed.
    std::string ChannelOfTarget(const std::string& server, const std::string& target) const;
    // A channel that had a key that is gone now (after /upgrade, reload or a restart).
    std::set<std::string> KeyedChannels() const;
    bool KeyLost(const std::string& server, const std::string& channel) const;
    void SetKeyed(const std::string& server, const std::string& channel, bool keyed);
    std::string KeyLostMessage(const std::string& channel) const;
    // Keeps WeeChat's logger off a keyed channel's buffer unless log_keyed is on.
    void GuardLog(const std::string& server, const std::string& channel);
    bool ServerExists(const std::string& server) const;
    TLineMarks Marks() const;
    bool SaveKeysOn() const;

    // Secured data: keys are kept there only while save_keys is on and a passphrase is set.
    bool SecuredDataSafe(t_gui_buffer* buffer) const;
    void SaveKey(t_gui_buffer* buffer, const std::string& server, const std::string& channel,
                 const std::string& key);
    void ForgetSavedKey(const std::string& server, const std::string& channel);
    void ForgetAllSavedKeys();

    void Error(t_gui_buffer* buffer, const std::string& text) const {
        weechat_printf(buffer, "%svelkor: %s", weechat_prefix("error"), text.c_str());
    }
    void Note(t_gui_buffer* buffer, const std::string& text) const {
        weechat_printf(buffer, "velkor: %s", text.c_str());
    }

    TChannelKeys keys_;
    TIDEA cipher_;
    std::vector<std::pair<std::string, std::string>> givenBack_; // buffer full name, line
    bool giveBackPlanned_ = false;
};

std::unique_ptr<TPlugin> gPlugin; // owned between init and end

// No exception may cross into WeeChat's C code: a callback that fails changes nothing.
template <class R, class F> R Guarded(R onError, F&& f) noexcept {
    try {
        return f();
    } catch (...) {
        return onError;
    }
}

TPlugin* Self(const void* p) {
    return const_cast<TPlugin*>(static_cast<const TPlugin*>(p));
}

void TPlugin::Hook() {
    for (const TOption& o : kOptions) {
        if (!weechat_config_is_set_plugin(o.Name))
            weechat_config_set_plugin(o.Name, std::string(o.Default).c_str());
        weechat_config_set_desc_plugin(o.Name, o.Description);
    }
    weechat_hook_command(
        "velkor", "encrypted channels in velkor's line format",
        "key [-server <server>] <channel> <key text>"
        " || off [-server <server>] [<channel>]"
        " || list",
        "   key: set the key of a channel: what you type there goes out encrypted, encrypted\n"
        "        lines that come in are shown deciphered\n"
        "   off: forget the key of a channel (the current one by default)\n"
        "  list: the channels that have a key (keys are never shown)\n"
        "server: the IRC server (default: the one of the current buffer)\n"
        "\n"
        "Lines are enciphered with IDEA, written in the Windows code page 1252 that velkor.exe\n"
        "users type in; a character that code page cannot write is refused. Deciphered lines\n"
        "get the mark of plugins.var.velkor.prefix, encrypted lines the key cannot read that\n"
        "of plugins.var.velkor.warning. Keys stay in memory unless plugins.var.velkor.save_keys\n"
        "is on (then in WeeChat's secured data, which needs a passphrase).\n"
        "/me on a keyed channel is refused: actions cannot be encrypted.\n"
        "A channel that had a key refuses what is typed there after /upgrade, a reload or a\n"
        "restart, until its key is set again or /velkor off says to talk in the clear.\n"
        "Lines that came in the clear get the mark of plugins.var.velkor.plain. Keyed channels\n"
        "are not logged unless plugins.var.velkor.log_keyed is on.",
        "key|off|list -server %(irc_servers) %(irc_channels)", &TPlugin::CommandCb, this, nullptr);
    weechat_hook_command_run("/me", &TPlugin::MeCb, this, nullptr);
    weechat_hook_command_run("/msg", &TPlugin::MsgCb, this, nullptr);
    weechat_hook_command_run("/secure", &TPlugin::SecureCb, this, nullptr);
    weechat_hook_config("plugins.var.velkor.save_keys", &TPlugin::SaveKeysCb, this, nullptr);
    weechat_hook_config("plugins.var.velkor.log_keyed", &TPlugin::LogKeyedCb, this, nullptr);
    weechat_hook_signal("irc_channel_opened", &TPlugin::ChannelOpenedCb, this, nullptr);
    weechat_hook_modifier("input_text_for_buffer", &TPlugin::InputCb, this, nullptr);
    weechat_hook_modifier("irc_out_privmsg", &TPlugin::OutCb, this, nullptr);
    weechat_hook_modifier("irc_in2_privmsg", &TPlugin::InCb, this, nullptr);
}

bool TPlugin::SaveKeysOn() const {
    return weechat_config_string_to_boolean(weechat_config_get_plugin("save_keys")) != 0;
}

TLineMarks TPlugin::Marks() const {
    return {Str(weechat_config_get_plugin("prefix")), Str(weechat_config_get_plugin("warning")),
            Str(weechat_config_get_plugin("plain"))};
}

std::string TPlugin::ChannelOfTarget(const std::string& server, const std::string& target) const {
    return TargetChannel(target, [&](std::string_view channel) {
        std::string name(channel);
        return keys_.Find(server, name) || KeyLost(server, name);
    });
}

std::set<std::string> TPlugin::KeyedChannels() const {
    std::set<std::string> out;
    std::istringstream list(Str(weechat_config_get_plugin("keyed_channels")));
    for (std::string name; std::getline(list, name, ',');)
        if (!name.empty()) out.insert(name);
    return out;
}

bool TPlugin::KeyLost(const std::string& server, const std::string& channel) const {
    return !keys_.Find(server, channel) && KeyedChannels().count(KeyedName(server, channel)) > 0;
}

void TPlugin::SetKeyed(const std::string& server, const std::string& channel, bool keyed) {
    std::set<std::string> all = KeyedChannels();
    bool changed = keyed ? all.insert(KeyedName(server, channel)).second
                         : all.erase(KeyedName(server, channel)) > 0;
    if (!changed) return;
    std::string list;
    for (const std::string& name : all)
        list += (list.empty() ? "" : ",") + name;
    weechat_config_set_plugin("keyed_channels", list.c_str());
    // On disk at once: a crash or an /upgrade right after must not forget it.
    weechat_command(nullptr, "/mute /save plugins");
}

std::string TPlugin::KeyLostMessage(const std::string& channel) const {
    return "nothing sent: " + channel +
           " had a key, which is gone since WeeChat was upgraded or restarted or the plugin "
           "reloaded; set it again (/velkor key " +
           channel + " TEXT) or say /velkor off " + channel + " to talk in the clear";
}

void TPlugin::GuardLog(const std::string& server, const std::string& channel) {
    // The logger's level 0 for the buffer, as /logger disable sets it: it holds over restarts,
    // also before the key is set again (a no_log local variable set later is not looked at).
    auto* buffer = BufferFromText(Info("irc_buffer", server + "," + channel).c_str());
    std::string option =
        "logger.level." + (buffer ? Str(weechat_buffer_get_string(buffer, "full_name"))
                                  : "irc." + server + "." + channel);
    bool keyed = keys_.Find(server, channel) || KeyedChannels().count(KeyedName(server, channel));
    bool log = weechat_config_string_to_boolean(weechat_config_get_plugin("log_keyed")) != 0;
    t_config_option* level = weechat_config_get(option.c_str());
    if (keyed && !log && (!level || weechat_config_integer(level) != 0))
        weechat_command(nullptr, ("/mute /set " + option + " 0").c_str());
    else if ((!keyed || log) && level && weechat_config_integer(level) == 0)
        weechat_command(nullptr, ("/mute /unset " + option).c_str());
}

bool TPlugin::ServerExists(const std::string& server) const {
    if (server.find('*') != std::string::npos) return false;
    t_infolist* list = weechat_infolist_get("irc_server", nullptr, server.c_str());
    if (!list) return false;
    bool found = false;
    while (!found && weechat_infolist_next(list))
        found = Str(weechat_infolist_string(list, "name")) == server;
    weechat_infolist_free(list);
    return found;
}

int TPlugin::ChannelOpenedCb(const void* self, void*, const char*, const char*, void* data) {
    return Guarded<int>(WEECHAT_RC_OK, [&]() -> int {
        auto* buffer = static_cast<t_gui_buffer*>(data);
        Self(self)->GuardLog(Str(weechat_buffer_get_string(buffer, "localvar_server")),
                             Str(weechat_buffer_get_string(buffer, "localvar_channel")));
        return WEECHAT_RC_OK;
    });
}

int TPlugin::LogKeyedCb(const void* self, void*, const char*, const char*) {
    return Guarded<int>(WEECHAT_RC_OK, [&]() -> int {
        TPlugin* p = Self(self);
        for (const std::string& name : p->KeyedChannels()) {
            std::size_t slash = name.find('/');
            p->GuardLog(name.substr(0, slash), name.substr(slash + 1));
        }
        return WEECHAT_RC_OK;
    });
}

const std::string* TPlugin::KeyOfBuffer(t_gui_buffer* buffer, std::string* channel) const {
    if (!buffer) return nullptr;
    if (Str(weechat_buffer_get_string(buffer, "plugin")) != "irc" ||
        Str(weechat_buffer_get_string(buffer, "localvar_type")) != "channel")
        return nullptr;
    std::string chan = Str(weechat_buffer_get_string(buffer, "localvar_channel"));
    if (channel) *channel = chan;
    return keys_.Find(Str(weechat_buffer_get_string(buffer, "localvar_server")), chan);
}

// ---- commands ----

int TPlugin::CommandCb(const void* self, void*, t_gui_buffer* buffer, int argc, char** argv,
                       char** argv_eol) {
    return Guarded<int>(WEECHAT_RC_ERROR,
                        [&]() -> int { return Self(self)->Command(buffer, argc, argv, argv_eol); });
}

int TPlugin::Command(t_gui_buffer* buffer, int argc, char** argv, char** argv_eol) {
    if (argc < 2) {
        List(buffer);
        return WEECHAT_RC_OK;
    }
    std::string action = argv[1];
    if (action == "list") {
        List(buffer);
        return WEECHAT_RC_OK;
    }
    if (action != "key" && action != "off") {
        Error(buffer, "unknown subcommand \"" + action + "\"; " + kUsage);
        return WEECHAT_RC_OK;
    }
    int i = 2;
    std::string server = Str(weechat_buffer_get_string(buffer, "localvar_server"));
    if (i < argc && std::strcmp(argv[i], "-server") == 0) {
        if (i + 1 >= argc) {
            Error(buffer, std::string("-server needs a server name; ") + kUsage);
            return WEECHAT_RC_OK;
        }
        server = argv[i + 1];
        i += 2;
        if (!ServerExists(server)) {
            Error(buffer,
                  "no IRC server named \"" + server + "\" (see /server list); nothing changed");
            return WEECHAT_RC_OK;
        }
    } else if (i < argc && argv[i][0] == '-') {
        Error(buffer, "unknown option \"" + std::string(argv[i]) + "\"; " + kUsage);
        return WEECHAT_RC_OK;
    }
    if (server.empty()) {
        Error(buffer, "no IRC server here: run the command in a server or channel buffer, or "
                      "give -server NAME");
        return WEECHAT_RC_OK;
    }
    std::string channel;
    if (i < argc) {
        channel = argv[i++];
    } else if (Str(weechat_buffer_get_string(buffer, "localvar_type")) == "channel" &&
               action == "off") {
        channel = Str(weechat_buffer_get_string(buffer, "localvar_channel"));
    }
    if (channel.empty() || std::strchr("#&+!", channel[0]) == nullptr) {
        Error(buffer, "give a channel, such as #velkor");
        return WEECHAT_RC_OK;
    }
    if (action == "off") {
        KeyOff(buffer, server, channel);
        return WEECHAT_RC_OK;
    }
    if (i >= argc) {
        Error(buffer, "give the key text after the channel: /velkor key " + channel + " TEXT");
        return WEECHAT_RC_OK;
    }
    SetKey(buffer, server, channel, argv_eol[i]);
    return WEECHAT_RC_OK;
}

void TPlugin::SetKey(t_gui_buffer* buffer, const std::string& server, const std::string& channel,
                     const char* keyText) {
    // velkor.exe users type their key in code page 1252 too: the same text, the same bytes.
    TCp1252Text key = Utf8ToCp1252(keyText);
    if (key.Error == TCp1252Error::NoForm) {
        Error(buffer, "the key holds \"" + Utf8Of(key.Character) + "\" (" +
                          CodePointName(key.Character) +
                          "), which the Windows code page 1252 cannot write; key not set");
        return;
    }
    if (key.Error == TCp1252Error::InvalidUtf8) {
        Error(buffer, "the key is not valid UTF-8; key not set");
        return;
    }
    keys_.Set(server, channel, key.Bytes);
    SetKeyed(server, channel, true);
    GuardLog(server, channel);
    Note(buffer,
         "key set for " + channel + " on " + server + ": what you type there is sent encrypted");
    if (key.Bytes.size() > KeyTextBytes)
        Note(buffer, "only the first 16 characters of a key count");
    if (SaveKeysOn()) SaveKey(buffer, server, channel, key.Bytes);
    Wipe(key.Bytes);
}

void TPlugin::KeyOff(t_gui_buffer* buffer, const std::string& server, const std::string& channel) {
    bool had = keys_.Remove(server, channel) || KeyLost(server, channel);
    ForgetSavedKey(server, channel);
    SetKeyed(server, channel, false);
    GuardLog(server, channel);
    if (had)
        Note(buffer, "key of " + channel + " on " + server +
                         " forgotten: lines there go out "
                         "in the clear");
    else
        Error(buffer, "no key for " + channel + " on " + server);
}

void TPlugin::List(t_gui_buffer* buffer) {
    auto entries = keys_.List();
    if (entries.empty()) {
        Note(buffer, "no channel has a key");
        return;
    }
    Note(buffer, "channels with a key" +
                     std::string(SaveKeysOn() ? " (saved in secured data)" : " (in memory only)") +
                     ":");
    for (const auto& e : entries)
        weechat_printf(buffer, "  %s %s  key %s", e.Server.c_str(), e.Channel.c_str(),
                       MaskedKey(e.Key).c_str());
}

int TPlugin::MeCb(const void* self, void*, t_gui_buffer* buffer, const char*) {
    return Guarded<int>(WEECHAT_RC_OK, [&]() -> int {
        std::string channel;
        if (!Self(self)->KeyOfBuffer(buffer, &channel) &&
            !Self(self)->KeyLost(Str(weechat_buffer_get_string(buffer, "localvar_server")),
                                 channel))
            return WEECHAT_RC_OK;
        Self(self)->Error(buffer,
                          "/me is not sent on " + channel +
                              ": an action cannot be encrypted, it would go out in the clear");
        return WEECHAT_RC_OK_EAT;
    });
}

// "/msg [-server S] TARGETS TEXT": WeeChat shows the line in the channel before it is sent,
// so a line for a keyed channel is checked here, before anything happens.
int TPlugin::MsgCb(const void* self, void*, t_gui_buffer* buffer, const char* command) {
    return Guarded<int>(WEECHAT_RC_OK, [&]() -> int {
        TPlugin* p = Self(self);
        std::istringstream words(Str(command));
        std::string word, server = Str(weechat_buffer_get_string(buffer, "localvar_server"));
        words >> word >> word;
        if (word == "-server") words >> server >> word;
        std::string targets = word;
        std::string text;
        std::getline(words >> std::ws, text);
        std::istringstream list(targets);
        for (std::string target; std::getline(list, target, ',');) {
            std::string channel = p->ChannelOfTarget(server, target);
            if (p->KeyLost(server, channel)) {
                p->Error(buffer, p->KeyLostMessage(channel));
                return WEECHAT_RC_OK_EAT;
            }
            const std::string* key = p->keys_.Find(server, channel);
            if (!key || text.empty()) continue;
            TOutgoing plan = PlanOutgoing(p->cipher_, text, *key);
            if (plan.Verdict == TOutgoingVerdict::Send) continue;
            p->Error(buffer, RefusalMessage(plan));
            return WEECHAT_RC_OK_EAT;
        }
        return WEECHAT_RC_OK;
    });
}

// ---- secured data ----

// "/secure passphrase -delete" makes WeeChat write secured data as plain text from then on:
// the saved keys leave it first (they stay in memory for this session).
int TPlugin::SecureCb(const void* self, void*, t_gui_buffer* buffer, const char* command) {
    return Guarded<int>(WEECHAT_RC_OK, [&]() -> int {
        std::istringstream words(Str(command));
        std::string name, sub, arg;
        words >> name >> sub >> arg;
        if (sub != "passphrase" || arg != "-delete") return WEECHAT_RC_OK;
        TPlugin* p = Self(self);
        p->ForgetAllSavedKeys();
        if (!p->keys_.List().empty())
            p->Note(buffer, "without a passphrase WeeChat keeps secured data as plain text: the "
                            "channel keys were taken out of it and stay in memory only");
        return WEECHAT_RC_OK;
    });
}

bool TPlugin::SecuredDataSafe(t_gui_buffer* buffer) const {
    // Only sec.conf tells whether a passphrase is set, and only when it holds some secured
    // data: write a harmless probe, read the file, take the probe away again.
    weechat_command(nullptr, "/mute /secure set velkor_probe 0");
    weechat_command(nullptr, "/mute /save sec");
    std::string path = Info("weechat_config_dir", "") + "/sec.conf";
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    weechat_command(nullptr, "/mute /secure del velkor_probe");
    if (SecuredDataEncrypted(text.str())) return true;
    Error(buffer, "keys stay in memory only: WeeChat keeps secured data as plain text until a "
                  "passphrase is set (/secure passphrase ...)");
    return false;
}

void TPlugin::SaveKey(t_gui_buffer* buffer, const std::string& server, const std::string& channel,
                      const std::string& key) {
    if (!SecuredDataSafe(buffer)) return;
    std::string name = SecuredDataName(server, channel);
    std::string command = "/mute /secure set " + name + " " + SecuredDataValue(key);
    weechat_command(nullptr, command.c_str());
    Wipe(command);
    // WeeChat refuses while secured data read at start is still encrypted (no passphrase
    // given then).
    UniqueHashtable data(weechat_info_get_hashtable("secured_data", nullptr));
    if (data && weechat_hashtable_has_key(data.get(), name.c_str()))
        Note(buffer, "key of " + channel + " on " + server + " saved in WeeChat's secured data");
    else
        Error(buffer, "WeeChat did not take the key into its secured data (/secure decrypt "
                      "first?); it stays in memory only");
}

void TPlugin::ForgetSavedKey(const std::string& server, const std::string& channel) {
    UniqueHashtable data(weechat_info_get_hashtable("secured_data", nullptr));
    std::string name = SecuredDataName(server, channel);
    if (data && weechat_hashtable_has_key(data.get(), name.c_str()))
        weechat_command(nullptr, ("/mute /secure del " + name).c_str());
}

// Gathers the names of velkor keys in a map over secured data.
void CollectKeyName(void* names, t_hashtable*, const char* name, const char*) {
    Guarded(0, [&] {
        std::string server, channel;
        if (name && ParseSecuredDataName(name, server, channel))
            static_cast<std::vector<std::string>*>(names)->push_back(name);
        return 0;
    });
}

// Every key in secured data goes, also those of channels not loaded now.
void TPlugin::ForgetAllSavedKeys() {
    UniqueHashtable data(weechat_info_get_hashtable("secured_data", nullptr));
    if (!data) return;
    std::vector<std::string> names;
    weechat_hashtable_map_string(data.get(), &CollectKeyName, &names);
    for (const std::string& name : names)
        weechat_command(nullptr, ("/mute /secure del " + name).c_str());
}

void TPlugin::LoadSavedKeys() {
    if (!SaveKeysOn()) return;
    UniqueHashtable data(weechat_info_get_hashtable("secured_data", nullptr));
    if (!data) return;
    weechat_hashtable_map_string(data.get(), &TPlugin::LoadKeyCb, this);
}

void TPlugin::LoadKeyCb(void* self, t_hashtable*, const char* name, const char* value) {
    Guarded(0, [&] {
        std::string server, channel, key;
        if (value && ParseSecuredDataName(Str(name), server, channel) &&
            ParseSecuredDataValue(value, key))
            static_cast<TPlugin*>(self)->keys_.Set(server, channel, key);
        Wipe(key);
        return 0;
    });
}

int TPlugin::SaveKeysCb(const void* self, void*, const char*, const char*) {
    return Guarded<int>(WEECHAT_RC_OK, [&]() -> int {
        TPlugin* p = Self(self);
        if (p->SaveKeysOn()) {
            for (const auto& e : p->keys_.List())
                p->SaveKey(nullptr, e.Server, e.Channel, e.Key);
        } else {
            p->ForgetAllSavedKeys();
        }
        return WEECHAT_RC_OK;
    });
}

// ---- lines ----

// Typed text for a keyed channel is checked before WeeChat sends and shows it, so that a
// refused line is neither sent nor shown, and goes back into the input line to be shortened.
char* TPlugin::InputCb(const void* self, void*, const char*, const char* modifierData,
                       const char* string) {
    return Guarded<char*>(nullptr, [&]() -> char* {
        TPlugin* p = Self(self);
        t_gui_buffer* buffer = BufferFromText(modifierData);
        std::string channel;
        const std::string* key = p->KeyOfBuffer(buffer, &channel);
        if (!string) return nullptr;
        if (!key) {
            std::string server = Str(weechat_buffer_get_string(buffer, "localvar_server"));
            if (channel.empty() || !p->KeyLost(server, channel) ||
                !weechat_string_input_for_buffer(string))
                return nullptr;
            p->Error(buffer, p->KeyLostMessage(channel));
            p->GiveBack(buffer, string);
            return strdup("");
        }
        std::string_view all(string);
        while (true) {
            std::size_t end = all.find('\n');
            std::string line(all.substr(0, end));
            if (const char* text = weechat_string_input_for_buffer(line.c_str())) {
                TOutgoing plan = PlanOutgoing(p->cipher_, text, *key);
                if (plan.Verdict != TOutgoingVerdict::Send) {
                    p->Error(buffer, RefusalMessage(plan));
                    p->GiveBack(buffer, string);
                    return strdup("");
                }
            }
            if (end == std::string_view::npos) break;
            all.remove_prefix(end + 1);
        }
        return nullptr;
    });
}

void TPlugin::GiveBack(t_gui_buffer* buffer, const char* line) {
    givenBack_.emplace_back(Str(weechat_buffer_get_string(buffer, "full_name")), Str(line));
    if (!giveBackPlanned_)
        giveBackPlanned_ = weechat_hook_timer(1, 0, 1, &TPlugin::GiveBackCb, this, nullptr);
}

int TPlugin::GiveBackCb(const void* self, void*, int) {
    return Guarded<int>(WEECHAT_RC_OK, [&]() -> int {
        TPlugin* p = Self(self);
        p->giveBackPlanned_ = false;
        auto lines = std::move(p->givenBack_);
        p->givenBack_.clear();
        for (const auto& [name, line] : lines) {
            t_gui_buffer* buffer = weechat_buffer_search("==", name.c_str());
            if (!buffer) continue;
            if (Str(weechat_buffer_get_string(buffer, "input")).empty()) {
                weechat_buffer_set(buffer, "input", line.c_str());
                // The position counts characters, not bytes.
                weechat_buffer_set(buffer, "input_pos",
                                   std::to_string(weechat_utf8_strlen(line.c_str())).c_str());
            } else {
                p->Error(buffer, "not sent, and not put back as the input line is in use: " + line);
            }
        }
        return WEECHAT_RC_OK;
    });
}

char* TPlugin::OutCb(const void* self, void*, const char*, const char* server, const char* string) {
    return Guarded<char*>(nullptr, [&]() -> char* {
        TPlugin* p = Self(self);
        TParsed msg = ParseIrc(server, string);
        std::string channel = p->ChannelOfTarget(Str(server), msg.Channel);
        if (msg.TextAt >= 0 && p->KeyLost(Str(server), channel)) {
            // A script's message, or one that passed the checks before: never in the clear.
            auto* buffer = BufferFromText(Info("irc_buffer", Str(server) + "," + channel).c_str());
            p->Error(buffer, p->KeyLostMessage(channel));
            return strdup("");
        }
        const std::string* key = p->keys_.Find(Str(server), channel);
        if (!key || msg.TextAt < 0 || IsCtcp(msg.Text)) return nullptr;
        p->GuardLog(Str(server), channel);
        TOutgoing plan = PlanOutgoing(p->cipher_, msg.Text, *key);
        if (plan.Verdict == TOutgoingVerdict::Send)
            return plan.Wire.empty() ? nullptr : WithText(string, msg.TextAt, plan.Wire);
        // Typed lines and /msg were checked before; this is a script's message: drop it.
        auto* buffer = BufferFromText(Info("irc_buffer", Str(server) + "," + channel).c_str());
        p->Error(buffer, RefusalMessage(plan));
        return strdup("");
    });
}

char* TPlugin::InCb(const void* self, void*, const char*, const char* server, const char* string) {
    return Guarded<char*>(nullptr, [&]() -> char* {
        TPlugin* p = Self(self);
        TParsed msg = ParseIrc(server, string);
        std::string channel = p->ChannelOfTarget(Str(server), msg.Channel);
        const std::string* key = p->keys_.Find(Str(server), channel);
        if (!key || msg.TextAt < 0 || IsCtcp(msg.Text)) return nullptr;
        p->GuardLog(Str(server), channel);
        TIncoming in = ReadIncoming(p->cipher_, msg.Text, *key, p->Marks());
        return WithText(string, msg.TextAt, in.Shown);
    });
}

} // namespace
} // namespace velkor

int weechat_plugin_init(struct t_weechat_plugin* plugin, int, char*[]) {
    weechat_plugin = plugin;
    return velkor::Guarded<int>(WEECHAT_RC_ERROR, [] {
        velkor::gPlugin = std::make_unique<velkor::TPlugin>();
        velkor::gPlugin->Hook();
        velkor::gPlugin->LoadSavedKeys();
        return WEECHAT_RC_OK;
    });
}

int weechat_plugin_end(struct t_weechat_plugin*) {
    // WeeChat removes the hooks of the plugin itself.
    velkor::gPlugin.reset();
    return WEECHAT_RC_OK;
}
