// Keyedlines: what the IRC client add-ons (the WeeChat plugin, the ZNC module) do with a
// message on a keyed channel, in both directions, and the table of channel keys. Portable:
// no header of either client here.
#pragma once

#include "bridge/Cp1252.h"
#include "crypto/Ideaunit.h"

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velkor {

// Only the first 16 bytes of a key text count (the IDEA key block).
inline constexpr std::size_t KeyTextBytes = 16;

// The marks in front of incoming lines, all configurable. Every line of a keyed channel
// gets one, so a sender without the key cannot make plain text pass for a deciphered line:
// a typed "lock" mark or "[wrong key?]" shows behind the plain mark.
struct TLineMarks {
    std::string Deciphered; // a line that came encrypted and was read with the key
    std::string Noise;      // a wire text that the key does not read
    std::string Plain;      // a line that came in the clear
};
inline constexpr std::string_view DefaultDecipheredMark = "\xF0\x9F\x94\x92 "; // lock, space
inline constexpr std::string_view DefaultNoiseMark = "[wrong key?] ";
inline constexpr std::string_view DefaultPlainMark = "[not encrypted] ";

enum class TOutgoingVerdict {
    Send,             // Wire is what goes on the channel
    OverLimit,        // the wire text would pass 256 characters
    NoForm,           // a character that code page 1252 cannot write
    ControlCharacter, // a control or formatting character (only the tab may be sent)
    InvalidUtf8,
};

struct TOutgoing {
    TOutgoingVerdict Verdict = TOutgoingVerdict::Send;
    std::string Wire;
    char32_t Character = 0; // NoForm and ControlCharacter
};

// The wire text of a line typed in WeeChat (UTF-8) under a key (code page 1252 bytes), or
// why it may not go out. An empty line is sent as it is (there is nothing to hide).
TOutgoing PlanOutgoing(TIDEA& cipher, std::string_view utf8Line, std::string_view key);
// What to tell the user about a refused line; empty for Send.
std::string RefusalMessage(const TOutgoing& plan);

// Exactly the shape of a wire text that velkor sends today: the digit, then the armour of
// 8 x k cipher bytes (1 <= k <= 128), the digit being that count modulo 3, every armour
// character between "!" and the backquote. Chat that merely starts with a digit is not one.
bool IsWireText(std::string_view text);

// The number of cipher bytes a wire text carries (0 when it is not one).
std::size_t WireCipherBytes(std::string_view wire);

// The noise test on the deciphered bytes of a wire text of n cipher bytes. A line that the
// sender's key reads back has every byte a code page 1252 character, no control character
// but the tab, and ends in the last 8-byte block (the cipher fills only that block with
// zeros). The bytes a wrong key gives are random: they stop at their first zero byte and
// hit control or unassigned bytes; yet about 3 in 10 lines of up to 8 bytes and 1 in 10 of
// 9 to 16 bytes still pass, as garbled text (measured, see the tests).
bool LooksDeciphered(std::string_view cp1252, std::size_t n);

enum class TIncomingKind {
    Plain,      // not a wire text: shown as it came, behind the plain mark
    Deciphered, // read with the key: shown with the deciphered mark
    Noise,      // a wire text the key does not read: shown as it came, with the noise mark
};

struct TIncoming {
    TIncomingKind Kind = TIncomingKind::Plain;
    std::string Shown; // UTF-8
};

TIncoming ReadIncoming(TIDEA& cipher, std::string_view text, std::string_view key,
                       const TLineMarks& marks);

// A channel name with its ASCII letters in lower case, as channels are compared.
std::string FoldChannel(std::string_view channel);

// The channel a message target names: the target itself when it is keyed, else the channel
// behind the status prefixes of "@#chan" or "+#chan" (a message to the channel's operators
// or voiced members) when that one is keyed, else the target unchanged ("+chan" may be a
// channel of its own).
std::string TargetChannel(std::string_view target,
                          const std::function<bool(std::string_view)>& keyed);

// Channel keys per server and channel; channel names match without regard to the case of
// ASCII letters. Keys are code page 1252 bytes; a replaced or removed key is wiped.
class TChannelKeys {
  public:
    struct TEntry {
        std::string Server, Channel, Key;
    };

    TChannelKeys() = default;
    TChannelKeys(const TChannelKeys&) = delete;
    TChannelKeys& operator=(const TChannelKeys&) = delete;
    ~TChannelKeys();

    void Set(std::string_view server, std::string_view channel, std::string_view key);
    bool Remove(std::string_view server, std::string_view channel);
    const std::string* Find(std::string_view server, std::string_view channel) const;
    // Sorted by server, then channel.
    std::vector<TEntry> List() const;

  private:
    using TName = std::pair<std::string, std::string>; // server, folded channel
    static TName Name(std::string_view server, std::string_view channel);
    std::map<TName, TEntry> keys_;
};

// A key as /velkor list shows it: never a character of it.
std::string MaskedKey(std::string_view key);
// Overwrites the bytes of a string with zeros in a way the compiler keeps.
void Wipe(std::string& s);

// The name under which a key is kept in WeeChat's secured data, and back.
std::string SecuredDataName(std::string_view server, std::string_view channel);
bool ParseSecuredDataName(std::string_view name, std::string& server, std::string& channel);

// A key as kept there (hexadecimal, so spaces at either end survive), and back; false for a
// value that is not one.
std::string SecuredDataValue(std::string_view key);
bool ParseSecuredDataValue(std::string_view value, std::string& key);

// Whether WeeChat's sec.conf (its text) keeps secured data encrypted, i.e. a passphrase is
// set: its [data] section says "__passphrase__ = on". Without it WeeChat stores secured
// data as plain text.
bool SecuredDataEncrypted(std::string_view secConf);

} // namespace velkor
