// The remote event as ircpeer runs it: both line forms, the shipped velkor.mrc, matching
// and the identifiers of its /dde command.
#include "harness/ircpeer/RemoteEvent.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace ircpeer {
namespace {

std::string ShippedScript() {
    std::ifstream file(VELKOR_MRC, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

TEST(RemoteEvent, LinesRunAsMircRunsThem) {
    const std::optional<RemoteEvent> shipped = FirstEvent(ShippedScript());
    ASSERT_TRUE(shipped);
    struct Row {
        const char* what;
        std::optional<RemoteEvent> event;
        std::string channel, text;
        std::optional<std::string> data; // nullopt: not forwarded
    };
    const auto line = [](const char* text) { return ParseEventLine(text); };
    const char* remoteIni = "1:ON TEXT:*:#:/dde velkor velkor \"\" $chan $nick $parms";
    const char* script = "on 1:TEXT:*:#velkor:dde velkor velkor \"\" $chan $nick $1-";
    const Row rows[] = {
        {"shipped: a wire text", shipped, "#v", "1AB$ME`!_", "#v bob 1AB$ME`!_"},
        {"shipped: a plain line with $me", shipped, "#v", "hello $me", std::nullopt},
        {"shipped: a digit 3", shipped, "#v", "3ABCD", std::nullopt},
        {"shipped: lower case", shipped, "#v", "1abcd", std::nullopt},
        {"shipped: a wire text and a word", shipped, "#v", "1ABCD x", std::nullopt},
        {"Remote.ini: $parms as it came", line(remoteIni), "#v", " a  b ", "#v bob  a  b "},
        {"script: $1- tokenized", line(script), "#VELKOR", " a  b ", "#VELKOR bob a b"},
        {"script: another channel", line(script), "#other", "a", std::nullopt},
        {"wildcard", line("on 1:TEXT:h?llo*:#:/dde s t i $2 $1 $3- $x"), "#v", "HELLO to  you all",
         "to HELLO you all "},
        {"wildcard, no match", line("on 1:TEXT:h?llo*:#:/dde s t i $1"), "#v", "hllo",
         std::nullopt},
        {"regex flag i", line("on $1:TEXT:/^ab$/i:#:/dde s t i $1"), "#v", "AB", "AB"},
        {"no /dde", line("on 1:TEXT:*:#:/msg $chan $1-"), "#v", "a", std::nullopt},
        {"not a TEXT event", line("on 1:JOIN:#:/dde s t i $nick"), "#v", "a", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(row.event.has_value(), std::string(row.what).rfind("not a", 0) != 0);
        if (!row.event) continue;
        const auto dde = RunEvent(*row.event, row.channel, "bob", row.text);
        EXPECT_EQ(dde ? std::optional(dde->data) : std::nullopt, row.data);
    }
    const auto dde = RunEvent(*shipped, "#v", "bob", "0ABCD");
    ASSERT_TRUE(dde);
    EXPECT_EQ(dde->service + "|" + dde->topic + "|" + dde->item, "velkor|velkor|\"\"");
}

} // namespace
} // namespace ircpeer
