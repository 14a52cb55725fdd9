// Parsing of received IRC lines and the receive-side line framing.
#include "harness/ircpeer/IrcMessage.h"
#include "harness/ircpeer/LineFramer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ircpeer {
namespace {

struct ParseCase {
    std::string line;
    std::string prefix;
    std::string command;
    std::vector<std::string> params;
};

TEST(IrcMessage, ParsesPrefixCommandAndParams) {
    const std::vector<ParseCase> cases = {
        {"PING :irc.test", "", "PING", {"irc.test"}},
        {"PING irc.test", "", "PING", {"irc.test"}},
        {":alice!~a@127.0.0.1 PRIVMSG #velkor :hello there",
         "alice!~a@127.0.0.1",
         "PRIVMSG",
         {"#velkor", "hello there"}},
        {":alice!~a@h PRIVMSG #velkor ::-) colon kept",
         "alice!~a@h",
         "PRIVMSG",
         {"#velkor", ":-) colon kept"}},
        {":alice!~a@h PRIVMSG #velkor :", "alice!~a@h", "PRIVMSG", {"#velkor", ""}},
        {":alice!~a@h PRIVMSG #velkor :  two  blanks ",
         "alice!~a@h",
         "PRIVMSG",
         {"#velkor", "  two  blanks "}},
        {":irc.test 001 peer :Welcome to the net\r\n",
         "irc.test",
         "001",
         {"peer", "Welcome to the net"}},
        {":peer!~p@h JOIN #velkor", "peer!~p@h", "JOIN", {"#velkor"}},
        {":peer!~p@h   JOIN   :#velkor", "peer!~p@h", "JOIN", {"#velkor"}},
        {"@time=2024-01-01T00:00:00Z :a!b@c privmsg #x :hi", "a!b@c", "PRIVMSG", {"#x", "hi"}},
        {":a!b@c PRIVMSG #x :\x01"
         "ACTION waves\x01",
         "a!b@c",
         "PRIVMSG",
         {"#x", "\x01"
                "ACTION waves\x01"}},
        {"MODE peer +F", "", "MODE", {"peer", "+F"}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.line);
        std::optional<IrcMessage> msg = ParseIrcLine(c.line);
        ASSERT_TRUE(msg.has_value());
        EXPECT_EQ(msg->prefix, c.prefix);
        EXPECT_EQ(msg->command, c.command);
        EXPECT_EQ(msg->params, c.params);
    }
}

TEST(IrcMessage, RejectsLinesWithoutCommand) {
    for (std::string line : {"", "   ", ":prefix.only", ":prefix.only   ", "@tag=1", "\r\n"}) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(ParseIrcLine(line).has_value());
    }
}

TEST(IrcMessage, MissingParamIsEmpty) {
    std::optional<IrcMessage> msg = ParseIrcLine("PING");
    ASSERT_TRUE(msg.has_value());
    EXPECT_EQ(msg->Param(0), "");
    EXPECT_EQ(msg->Param(5), "");
}

TEST(IrcMessage, NickOfPrefix) {
    EXPECT_EQ(NickOf("alice!~a@127.0.0.1"), "alice");
    EXPECT_EQ(NickOf("alice@host"), "alice");
    EXPECT_EQ(NickOf("irc.test"), "irc.test");
    EXPECT_EQ(NickOf(""), "");
}

TEST(IrcMessage, NamesCompareWithoutCase) {
    EXPECT_TRUE(EqualsNoCase("#Velkor", "#vELKOR"));
    EXPECT_FALSE(EqualsNoCase("#velkor", "#velko"));
    EXPECT_FALSE(EqualsNoCase("#velkor", "#velkot"));
    EXPECT_TRUE(IsChannelName("#a"));
    EXPECT_TRUE(IsChannelName("&a"));
    EXPECT_FALSE(IsChannelName("alice"));
    EXPECT_FALSE(IsChannelName(""));
}

TEST(IrcMessage, PrintableKeepsALogLineOnOneLine) {
    EXPECT_EQ(Printable("plain text #chan"), "plain text #chan");
    EXPECT_EQ(Printable("a\r\nb"), "a\\r\\nb");
    EXPECT_EQ(Printable("\x01"
                        "ACTION x\x01"),
              "\\x01ACTION x\\x01");
    EXPECT_EQ(Printable("back\\slash"), "back\\\\slash");
    EXPECT_EQ(Printable("caf\xC3\xA9"), "caf\xC3\xA9");
}

TEST(LineFramer, SplitsOnLineEndsAcrossChunks) {
    LineFramer framer;
    EXPECT_TRUE(framer.Feed("PING :a").empty());
    EXPECT_EQ(framer.Feed("bc\r\nPRIVMSG #x :one\nPRIVMSG #x :t"),
              (std::vector<std::string>{"PING :abc", "PRIVMSG #x :one"}));
    EXPECT_EQ(framer.Feed("wo\r"), std::vector<std::string>{});
    EXPECT_EQ(framer.Feed("\n\r\n\n"), std::vector<std::string>{"PRIVMSG #x :two"});
    EXPECT_EQ(framer.TakeDroppedBytes(), 0u);
}

TEST(LineFramer, DropsOverlongLineAndReportsIt) {
    LineFramer framer;
    const std::string huge(LineFramer::kMaxPending + 100, 'x');
    EXPECT_TRUE(framer.Feed(huge.substr(0, 9000)).empty());
    EXPECT_TRUE(framer.Feed(huge.substr(9000)).empty());
    EXPECT_EQ(framer.Feed("tail\r\nPING :ok\r\n"), std::vector<std::string>{"PING :ok"});
    EXPECT_EQ(framer.TakeDroppedBytes(), huge.size() + 5);
    EXPECT_EQ(framer.TakeDroppedBytes(), 0u);
}

} // namespace
} // namespace ircpeer
