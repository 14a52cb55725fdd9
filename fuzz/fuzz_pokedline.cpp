// Fuzzes the reading of a line poked by the IRC client: the field split puts every byte
// back where it came from, and the display line of any poke is well formed.
// Input: flags byte (bit 0: encryption on), then the poked text.
#include "chat/Chatlines.h"
#include "chat/Linecodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace velkor::chat;

namespace {

void Require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string_view poke(reinterpret_cast<const char*>(data) + 1, size - 1);

    const TPokedLine p = SplitPokedLine(poke);
    std::size_t spaces = 0;
    for (char c : poke)
        spaces += c == ' ';
    if (spaces >= 2)
        Require(p.Channel + " " + p.Nick + " " + p.Text == poke, "two fields and the text");
    else if (spaces == 1)
        Require(p.Nick.empty() && p.Channel + " " + p.Text == poke, "channel and text");
    else
        Require(p.Channel.empty() && p.Nick.empty() && p.Text == poke, "text alone");
    Require(p.Channel.find(' ') == std::string::npos && p.Nick.find(' ') == std::string::npos,
            "fields hold no space");

    static velkor::TIDEA blowfish;
    TChatSettings settings;
    settings.EncryptionOn = (data[0] & 1) != 0;
    settings.ChannelName = p.Channel.empty() ? "#velkor" : p.Channel; // mostly the monitored one
    auto decrypt = [](const std::string& wire, const std::string& key) {
        return DecryptLine(blowfish, wire, key);
    };
    auto shown = IncomingDisplayLine(poke, settings, decrypt);
    if (shown) {
        const std::string prefix = "<" + p.Nick + "> ";
        Require(shown->compare(0, prefix.size(), prefix) == 0, "display line starts with the nick");
        if (!settings.EncryptionOn)
            Require(*shown == prefix + p.Text, "plain text shown unchanged");
        else
            Require(!p.Text.empty() && p.Text[0] >= '0' && p.Text[0] <= '2',
                    "only wire texts shown");
    } else {
        Require(!SameChannel(p.Channel, settings.ChannelName) || settings.EncryptionOn,
                "a plain line of the channel is never dropped");
    }
    return 0;
}
