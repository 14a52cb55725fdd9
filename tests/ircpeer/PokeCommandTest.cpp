// Translation of poked command texts into IRC lines, and the 512-byte line limit.
#include "IrcMessage.h"
#include "PokeCommand.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace ircpeer {
namespace {

struct TranslateCase {
    std::string poked;
    std::string channel; // current channel
    std::vector<std::string> lines;
    std::size_t errors;
    bool quit;
};

TEST(TranslatePoke, CommandTable) {
    const std::vector<TranslateCase> cases = {
        {"/msg #velkor 0AbC+/xyz", "", {"PRIVMSG #velkor :0AbC+/xyz"}, 0, false},
        {"/MSG alice  two blanks", "", {"PRIVMSG alice : two blanks"}, 0, false},
        {"/msg #velkor :starts with colon", "", {"PRIVMSG #velkor ::starts with colon"}, 0, false},
        {"/msg #velkor", "#velkor", {}, 1, false},
        {"/msg", "#velkor", {}, 1, false},
        {"/notice bob hi there", "", {"NOTICE bob :hi there"}, 0, false},
        {"/join #other", "", {"JOIN #other"}, 0, false},
        {"/join other,#b,&c key", "", {"JOIN #other,#b,&c key"}, 0, false},
        {"/join", "", {}, 1, false},
        {"/part", "#velkor", {"PART #velkor"}, 0, false},
        {"/part", "", {}, 1, false},
        {"/part #other bye now", "#velkor", {"PART #other :bye now"}, 0, false},
        {"/part see you", "#velkor", {"PART #velkor :see you"}, 0, false},
        {"/nick peer2", "", {"NICK peer2"}, 0, false},
        {"/nick a b", "", {}, 1, false},
        {"/quit", "", {"QUIT"}, 0, true},
        {"/quit gone fishing", "", {"QUIT :gone fishing"}, 0, true},
        {"/me waves", "#velkor", {"PRIVMSG #velkor :\x01" "ACTION waves\x01"}, 0, false},
        {"/me waves", "", {}, 1, false},
        {"/quote MODE peer +F", "", {"MODE peer +F"}, 0, false},
        {"/raw PRIVMSG #x :raw", "", {"PRIVMSG #x :raw"}, 0, false},
        {"/quote", "", {}, 1, false},
        {"/whois alice", "", {"WHOIS alice"}, 0, false},
        {"/names #velkor", "", {"NAMES #velkor"}, 0, false},
        {"/away", "", {"AWAY"}, 0, false},
        {"hello channel", "#velkor", {"PRIVMSG #velkor :hello channel"}, 0, false},
        {"hello channel", "", {}, 1, false},
        {"/", "#velkor", {}, 1, false},
        {"/ msg #x y", "#velkor", {}, 1, false},
        {"", "#velkor", {}, 0, false},
    };
    for (const TranslateCase& c : cases) {
        SCOPED_TRACE(c.poked);
        PokeResult r = TranslatePoke(c.poked, PokeContext{c.channel, "peer"});
        EXPECT_EQ(r.lines, c.lines);
        EXPECT_EQ(r.errors.size(), c.errors);
        EXPECT_EQ(r.quit, c.quit);
    }
}

TEST(TranslatePoke, LineBreaksNeverReachTheServerInsideALine) {
    const std::vector<TranslateCase> cases = {
        {"/msg #v one\r\n/msg #v two", "", {"PRIVMSG #v :one", "PRIVMSG #v :two"}, 0, false},
        {"/msg #v one\rQUIT :injected", "#v", {"PRIVMSG #v :one", "PRIVMSG #v :QUIT :injected"}, 0, false},
        {"/msg #v one\nKICK #v bob", "", {"PRIVMSG #v :one"}, 1, false},
        {"/quote NICK a\r\nJOIN #evil", "", {"NICK a"}, 1, false},
        {"first\n\n\r\nsecond\r\n", "#v", {"PRIVMSG #v :first", "PRIVMSG #v :second"}, 0, false},
        {"\r\n\r\n", "#v", {}, 0, false},
    };
    for (const TranslateCase& c : cases) {
        SCOPED_TRACE(c.poked);
        PokeResult r = TranslatePoke(c.poked, PokeContext{c.channel, "peer"});
        EXPECT_EQ(r.lines, c.lines);
        EXPECT_EQ(r.errors.size(), c.errors);
        for (const std::string& line : r.lines)
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    }
}

// The part of a sent PRIVMSG/NOTICE line after "VERB TARGET :".
std::string TextOf(const std::string& line) { return line.substr(line.find(" :") + 2); }

TEST(TranslatePoke, LongMessagesAreSplitWithinTheLimitAndLoseNothing) {
    std::mt19937 rng(20240601);
    const std::string nick(30, 'n');
    for (std::size_t length : {1u, 300u, 390u, 391u, 509u, 510u, 1200u, 5000u}) {
        for (bool blanks : {false, true}) {
            std::string text;
            for (std::size_t i = 0; i < length; ++i)
                text.push_back(blanks && rng() % 7 == 0 ? ' ' : static_cast<char>('a' + rng() % 26));
            if (text.front() == ' ')
                text.front() = 'x';
            SCOPED_TRACE(testing::Message() << length << (blanks ? " with blanks" : ""));
            PokeResult r = TranslatePoke("/msg #velkor " + text, PokeContext{"", nick});
            ASSERT_TRUE(r.errors.empty());
            std::string joined;
            for (const std::string& line : r.lines) {
                // The server relays the line with ":nick!user@host " in front.
                EXPECT_LE(line.size() + RelayPrefixReserve(nick) + 2, kMaxLineBytes);
                ASSERT_EQ(line.rfind("PRIVMSG #velkor :", 0), 0u);
                joined += TextOf(line);
            }
            EXPECT_EQ(joined, text);
            EXPECT_EQ(r.warnings.size(), r.lines.size() > 1 ? 1u : 0u);
        }
    }
}

TEST(TranslatePoke, LongActionIsSplitIntoWholeCtcpMessages) {
    const std::string text(900, 'w');
    PokeResult r = TranslatePoke("/me " + text, PokeContext{"#velkor", "peer"});
    ASSERT_GE(r.lines.size(), 2u);
    std::string joined;
    for (const std::string& line : r.lines) {
        EXPECT_LE(line.size(), kMaxLineBody);
        std::string body = TextOf(line);
        ASSERT_EQ(body.rfind("\x01" "ACTION ", 0), 0u);
        ASSERT_EQ(body.back(), '\x01');
        joined += body.substr(8, body.size() - 9);
    }
    EXPECT_EQ(joined, text);
}

TEST(TranslatePoke, OverlongRawLineIsRefusedNotTruncated) {
    PokeResult r = TranslatePoke("/quote PRIVMSG #x :" + std::string(600, 'y'), PokeContext{});
    EXPECT_TRUE(r.lines.empty());
    ASSERT_EQ(r.errors.size(), 1u);
    PokeResult ok = TranslatePoke("/quote " + std::string(kMaxLineBody, 'y'), PokeContext{});
    EXPECT_EQ(ok.lines.size(), 1u);
    PokeResult verb = TranslatePoke("/topic #x " + std::string(kMaxLineBody, 'y'), PokeContext{});
    EXPECT_TRUE(verb.lines.empty());
    EXPECT_EQ(verb.errors.size(), 1u);
}

TEST(TranslatePoke, AbsurdTargetIsRefused) {
    PokeResult r = TranslatePoke("/msg #" + std::string(480, 't') + " hi", PokeContext{});
    EXPECT_TRUE(r.lines.empty());
    EXPECT_EQ(r.errors.size(), 1u);
}

TEST(SplitMessage, CutsAfterBlankInSecondHalfAndKeepsUtf8Whole) {
    EXPECT_EQ(SplitMessage("aaaa bbbb cc", 6), (std::vector<std::string>{"aaaa ", "bbbb ", "cc"}));
    EXPECT_EQ(SplitMessage("a bcdefghij", 6), (std::vector<std::string>{"a bcde", "fghij"}));
    EXPECT_EQ(SplitMessage("", 6), std::vector<std::string>{});
    // "aé" + "é": a cut at byte 4 would fall inside the second two-byte sequence.
    EXPECT_EQ(SplitMessage("xx\xC3\xA9\xC3\xA9", 5),
              (std::vector<std::string>{"xx\xC3\xA9", "\xC3\xA9"}));
}

} // namespace
} // namespace ircpeer
