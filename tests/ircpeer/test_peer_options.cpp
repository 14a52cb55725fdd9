// Command line of ircpeer.
#include "harness/ircpeer/PeerOptions.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace ircpeer {
namespace {

ParsedOptions Parse(std::vector<std::string_view> args) {
    return ParsePeerOptions(args);
}

TEST(PeerOptions, FullCommandLine) {
    ParsedOptions p = Parse({"--server", "127.0.0.1:6667", "--nick", "peer", "--join", "#a",
                             "--join", "b", "--service", "MIRC2", "--target-service", "vs",
                             "--target-topic", "vt", "--dde-per-line", "--oper", "tester:se:cret"});
    ASSERT_TRUE(p.options.has_value()) << p.error;
    const PeerOptions& o = *p.options;
    EXPECT_EQ(o.host, "127.0.0.1");
    EXPECT_EQ(o.port, 6667);
    EXPECT_EQ(o.nick, "peer");
    EXPECT_EQ(o.channels, (std::vector<std::string>{"#a", "#b"}));
    EXPECT_EQ(o.service, "MIRC2");
    EXPECT_EQ(o.targetService, "vs");
    EXPECT_EQ(o.targetTopic, "vt");
    EXPECT_EQ(o.operName, "tester");
    EXPECT_EQ(o.operPassword, "se:cret");
    EXPECT_TRUE(o.ddePerLine);

    p = Parse({"--server", "h:1", "--nick", "p", "--event", "v.mrc", "--unicode", "--ack-1s"});
    ASSERT_TRUE(p.options.has_value()) << p.error;
    EXPECT_EQ(p.options->eventFile, "v.mrc");
    EXPECT_TRUE(p.options->pokeUnicode && p.options->shortAckWait);
}

TEST(PeerOptions, Defaults) {
    ParsedOptions p = Parse({"--nick", "peer", "--server", "localhost:1"});
    ASSERT_TRUE(p.options.has_value()) << p.error;
    EXPECT_EQ(p.options->service, "mirc");
    EXPECT_EQ(p.options->targetService, "velkor");
    EXPECT_EQ(p.options->targetTopic, "velkor");
    EXPECT_TRUE(p.options->channels.empty());
    EXPECT_TRUE(p.options->operName.empty());
    EXPECT_FALSE(p.options->ddePerLine || p.options->pokeUnicode || p.options->shortAckWait);
    EXPECT_TRUE(p.options->eventFile.empty());
}

TEST(PeerOptions, RejectsBadCommandLines) {
    const std::vector<std::vector<std::string_view>> cases = {
        {},
        {"--server", "h:1"},
        {"--nick", "peer"},
        {"--server", "h", "--nick", "p"},
        {"--server", ":1", "--nick", "p"},
        {"--server", "h:0", "--nick", "p"},
        {"--server", "h:65536", "--nick", "p"},
        {"--server", "h:12x", "--nick", "p"},
        {"--server", "h:1", "--nick"},
        {"--server", "h:1", "--nick", "two words"},
        {"--server", "h:1", "--nick", "p", "--oper", "nopassword"},
        {"--server", "h:1", "--nick", "p", "--oper", ":pw"},
        {"--server", "h:1", "--nick", "p", "--bogus", "x"},
        {"--server", "h:1", "--nick", "p\r\nQUIT"},
        {"--server", "h:1", "--nick", "p", "--dde-per-line", "yes"},
    };
    for (const auto& args : cases) {
        ParsedOptions p = Parse(args);
        EXPECT_FALSE(p.options.has_value()) << (args.empty() ? "" : args.back());
        EXPECT_FALSE(p.error.empty());
    }
}

} // namespace
} // namespace ircpeer
