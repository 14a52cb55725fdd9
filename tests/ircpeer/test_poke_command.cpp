// Translation of poked command texts into IRC lines, and the 512-byte line limit.
#include "harness/ircpeer/IrcMessage.h"
#include "harness/ircpeer/PokeCommand.h"

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
        {"/me waves",
         "#velkor",
         {"PRIVMSG #velkor :\x01"
          "ACTION waves\x01"},
         0,
         false},
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
        {"/msg #v one\rQUIT :injected",
         "#v",
         {"PRIVMSG #v :one", "PRIVMSG #v :QUIT :injected"},
         0,
         false},
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
std::string TextOf(const std::string& line) {
    return line.substr(line.find(" :") + 2);
}

// Checks that the pieces are the text in order, with at most one blank dropped at each cut.
void ExpectPiecesRebuildText(const std::vector<std::string>& pieces, const std::string& text) {
    std::size_t at = 0;
    for (const std::string& piece : pieces) {
        ASSERT_FALSE(piece.empty());
        if (text.compare(at, piece.size(), piece) != 0 && at < text.size() && text[at] == ' ') ++at;
        ASSERT_EQ(text.compare(at, piece.size(), piece), 0) << "piece at " << at << ": " << piece;
        at += piece.size();
    }
    EXPECT_EQ(at, text.size());
}

TEST(TranslatePoke, LongMessagesAreSplitWithinTheLimitAndLoseNothing) {
    std::mt19937 rng(20240601);
    const std::string nick(30, 'n');
    for (std::size_t length : {1u, 300u, 390u, 391u, 509u, 510u, 1200u, 5000u}) {
        for (bool blanks : {false, true}) {
            std::string text;
            for (std::size_t i = 0; i < length; ++i)
                text.push_back(blanks && rng() % 7 == 0 ? ' '
                                                        : static_cast<char>('a' + rng() % 26));
            text.front() = 'x';
            text.back() = 'y';
            SCOPED_TRACE(testing::Message() << length << (blanks ? " with blanks" : ""));
            PokeResult r = TranslatePoke("/msg #velkor " + text, PokeContext{"", nick});
            ASSERT_TRUE(r.errors.empty());
            std::vector<std::string> pieces;
            for (const std::string& line : r.lines) {
                // The server relays the line with ":nick!user@host " in front.
                EXPECT_LE(line.size() + RelayPrefixReserve(nick) + 2, kMaxLineBytes);
                ASSERT_EQ(line.rfind("PRIVMSG #velkor :", 0), 0u);
                pieces.push_back(TextOf(line));
                // Servers strip a trailing blank of the last parameter.
                EXPECT_NE(pieces.back().back(), ' ');
            }
            ExpectPiecesRebuildText(pieces, text);
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
        ASSERT_EQ(body.rfind("\x01"
                             "ACTION ",
                             0),
                  0u);
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

TEST(SplitMessage, CutsAtBlankInSecondHalfAndKeepsUtf8Whole) {
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(SplitMessage("aaaa bbbb cc", 6), (Pieces{"aaaa", "bbbb", "cc"}));
    EXPECT_EQ(SplitMessage("aaaaaa bbb", 6), (Pieces{"aaaaaa", "bbb"}));
    EXPECT_EQ(SplitMessage("a bcdefghij", 6), (Pieces{"a bcde", "fghij"}));
    EXPECT_EQ(SplitMessage("abcdef", 6), (Pieces{"abcdef"}));
    EXPECT_EQ(SplitMessage("abcd   efgh", 6), (Pieces{"abcd", "  efgh"}));
    EXPECT_EQ(SplitMessage("", 6), std::vector<std::string>{});
    // "aé" + "é": a cut at byte 4 would fall inside the second two-byte sequence.
    EXPECT_EQ(SplitMessage("xx\xC3\xA9\xC3\xA9", 5),
              (std::vector<std::string>{"xx\xC3\xA9", "\xC3\xA9"}));
}

} // namespace
} // namespace ircpeer
