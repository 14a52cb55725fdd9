// Chat line paths: the send decision, the reading of poked lines and the display rule.
#include "chat/Chatlines.h"
#include "dde/DdeText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace velkor::chat;
using velkor::NotSentMark;
using velkor::TPokeOutcome;

namespace {

// Stands in for the line codec with lengths easy to count by hand: the wire text is the line
// wrapped as "0[key:line]"; like the codec it gives the empty text for an empty line and for
// one longer than 1024 bytes.
std::string FakeEncrypt(const std::string& line, const std::string& key) {
    if (line.empty() || line.size() > 1024) return "";
    return "0[" + key + ":" + line + "]";
}

// Deciphering stand-in: "0bad" is refused, anything else is marked as deciphered.
std::string FakeDecrypt(const std::string& wire, const std::string& key) {
    if (wire == "0bad") return "";
    return "dec(" + key + "," + wire + ")";
}

// Display that counts and trims whole lines; a text with line breaks makes several lines.
// A line takes its length and one character for its break, within `limit` characters.
class LineDisplay final : public TChatDisplay {
  public:
    std::int32_t LineCount() const override { return static_cast<std::int32_t>(lines.size()); }
    void DeleteFirstLine() override {
        ASSERT_FALSE(lines.empty());
        lines.erase(lines.begin());
    }
    void DeleteFirstLines(std::int32_t count) override {
        ASSERT_GT(count, 0);
        lines.erase(lines.begin(), lines.begin() + std::min<std::size_t>(count, lines.size()));
    }
    void AppendLine(std::string_view text) override {
        const std::int64_t room = limit - TextLength() - 2;
        ASSERT_GE(room, 0) << "appended without room";
        text = text.substr(0, static_cast<std::size_t>(room));
        // Like the control: CR, LF and CR LF each end a line.
        for (std::size_t start = 0;;) {
            const auto end = text.find_first_of("\r\n", start);
            lines.emplace_back(text.substr(start, end - start));
            if (end == std::string_view::npos) break;
            start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        }
    }
    void ScrollLines(std::int32_t n) override { scrolls.push_back(n); }
    std::int64_t TextLength() const override { return LineStart(LineCount()); }
    std::int64_t LineStart(std::int32_t line) const override {
        std::int64_t start = 0;
        for (std::int32_t i = 0; i < line; ++i)
            start += static_cast<std::int64_t>(lines[i].size()) + 1;
        return start;
    }
    std::int64_t TextLimit() const override { return limit; }
    void InsertText(std::int64_t position, std::string_view text) override {
        for (std::string& line : lines) {
            if (position <= static_cast<std::int64_t>(line.size())) {
                line.insert(static_cast<std::size_t>(position), text);
                return;
            }
            position -= static_cast<std::int64_t>(line.size()) + 1;
        }
        ADD_FAILURE() << "inserted past the end";
    }

    std::vector<std::string> lines;
    std::vector<std::int32_t> scrolls;
    std::int64_t limit = 2000000;
};

} // namespace

TEST(SendLine, Decisions) {
    struct Row {
        const char* name;
        std::string line;
        bool encrypt;
        std::optional<std::string> command; // std::nullopt: refused as over the limit
        std::string channel = "#velkor";
        std::string key = "k";
    };
    const std::string a256(256, 'a');
    const std::string a251(251, 'a'); // wire "0[k:" + 251 + "]" is 256 characters
    const Row rows[] = {
        {"plain", "hello", false, "/msg #velkor hello"},
        {"enciphered", "hello", true, "/msg #velkor 0[k:hello]"},
        {"key is passed", "hi", true, "/msg #velkor 0[sec:hi]", "#velkor", "sec"},
        {"empty plain", "", false, "/msg #velkor "},
        {"empty enciphered", "", true, "/msg #velkor "},
        {"256 plain pass", a256, false, "/msg #velkor " + a256},
        {"257 plain refused", a256 + "a", false, std::nullopt},
        {"wire of 256 passes", a251, true, "/msg #velkor 0[k:" + a251 + "]"},
        {"wire of 257 refused", a251 + "a", true, std::nullopt},
        {"command plain", "/join #other", false, "/join #other"},
        {"command not enciphered", "/join #other", true, "/join #other"},
        {"leading space is no command", " /join #other", true, "/msg #velkor 0[k: /join #other]"},
        {"slash inside is no command", "a/join", false, "/msg #velkor a/join"},
        {"command of 256 passes", "/" + std::string(255, 'x'), false, "/" + std::string(255, 'x')},
        {"command of 257 refused", "/" + std::string(256, 'x'), false, std::nullopt},
        {"command with long wire refused", "/" + std::string(251, 'x'), true, std::nullopt},
        {"empty channel", "hi", false, "/msg  hi", ""},
        {"line over the codec limit", std::string(1025, 'a'), true, std::nullopt},
        {"command over the codec limit", "/" + std::string(1024, 'x'), true, std::nullopt},
        {"CR LF inside refused", "a\r\nb", false, std::nullopt},
        {"LF inside a command refused", "/me a\nb", true, std::nullopt},
        {"CR at the end refused", "hello\r", true, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const TChatSettings settings{
            .KeyString = row.key, .ChannelName = row.channel, .EncryptionOn = row.encrypt};
        const TSendDecision decision = DecideSend(row.line, settings, FakeEncrypt);
        EXPECT_EQ(decision.Accepted, row.command.has_value());
        if (row.command) {
            EXPECT_EQ(decision.Command, *row.command);
            EXPECT_EQ(decision.Echo, row.line);
        } else {
            EXPECT_EQ(decision.Command, "");
            EXPECT_EQ(decision.Echo, "");
        }
    }
}

TEST(PokedLine, DisplayLines) {
    struct Row {
        std::string data;
        bool encrypt;
        std::optional<std::string> shown; // std::nullopt: dropped
        std::string channel = "#velkor";
    };
    const Row rows[] = {
        {"#VELKOR bob hello", false, "<bob> hello"},
        {"#velkor bob hello", false, "<bob> hello", "#VelKor"},
        {"#other bob hello", false, std::nullopt},
        {"#velkor2 bob hello", false, std::nullopt},
        {"#velkor bob hello", true, std::nullopt},
        {"#velkor bob 3xyz", true, std::nullopt},
        {"#velkor bob /xyz", true, std::nullopt},
        {"#velkor bob 0abcd", true, "<bob> dec(k,0abcd)"},
        {"#velkor bob 1abcd", true, "<bob> dec(k,1abcd)"},
        {"#velkor bob 2abcd", true, "<bob> dec(k,2abcd)"},
        {"#velkor bob 0bad", true, "<bob> "},
        {"#velkor bob 1ab cd", false, "<bob> 1ab cd"},
        {"#velkor bob hello  world ", false, "<bob> hello  world "},
        {"#velkor bob", false, "<> bob"},
        {"#velkor bob ", false, "<bob> "},
        {"#velkor bob ", true, std::nullopt},
        {"#velkor  bob hi", false, "<> bob hi"},
        {" #velkor bob hi", false, std::nullopt},
        {"#velkor", false, std::nullopt},
        {"#velkor", false, "<> #velkor", ""},
        {"hello", true, std::nullopt, ""},
        {"", false, "<> ", ""},
        // Only ASCII letters fold: Latin-1 e-acute (E9) and E-acute (C9) differ.
        {"#CAF\xC9 bob hi", false, std::nullopt, "#caf\xE9"},
        {"#CAF\xE9 bob hi", false, "<bob> hi", "#caf\xE9"},
        // The edges of the fold: A to Z only, not the characters 32 beside them.
        {"#XYZ bob hi", false, "<bob> hi", "#xyz"},
        {"#A bob hi", false, "<bob> hi", "#a"},
        {"#a[ bob hi", false, std::nullopt, "#a{"},
        {"#@ bob hi", false, std::nullopt, "#`"},
    };
    for (const auto& row : rows) {
        const TChatSettings keyed{
            .KeyString = "k", .ChannelName = row.channel, .EncryptionOn = row.encrypt};
        EXPECT_EQ(IncomingDisplayLine(row.data, keyed, FakeDecrypt), row.shown)
            << '"' << row.data << "\" on channel \"" << row.channel << '"';
    }
}

// Plain lines that are UTF-8 beyond ASCII are shown in the ANSI code page, here a stand-in
// for Latin-1 (every character below 256 has its byte); anything else is shown as it came.
TEST(Incoming, PlainUtf8ShownInAnsi) {
    const TAnsiFromUtf16 latin1 = [](std::u16string_view text) -> std::optional<std::string> {
        std::string out;
        for (const char16_t c : text) {
            if (c > 0xFF) return std::nullopt;
            out.push_back(static_cast<char>(c));
        }
        return out;
    };
    struct Row {
        std::string text;
        std::string shown;
        bool encrypt = false;
    };
    const Row rows[] = {
        {"caf\xC3\xA9 \xC3\xBF", "caf\xE9 \xFF"},
        {"plain ascii", "plain ascii"},
        {"caf\xE9", "caf\xE9"}, // not UTF-8: the bytes as they came
        {"\xE2\x82\xAC"
         "5",
         "\xE2\x82\xAC"
         "5"},                                    // euro: no Latin-1 form
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}, // beyond the BMP: no form
        {"\xC0\xA9", "\xC0\xA9"},                 // overlong
        {"\xED\xA0\x80", "\xED\xA0\x80"},         // a surrogate
        {"\xF4\x90\x80\x80", "\xF4\x90\x80\x80"}, // beyond U+10FFFF
        {"\xC3", "\xC3"},                         // cut short
        {"\xC3\xA9\x80", "\xC3\xA9\x80"},         // a stray continuation byte
        {"\xC3\xA9", "", true},                   // encrypted: not a wire text, dropped
    };
    for (const auto& row : rows) {
        const TChatSettings settings{
            .KeyString = "k", .ChannelName = "#v", .EncryptionOn = row.encrypt};
        const auto shown = IncomingDisplayLine("#v bob " + row.text, settings, FakeDecrypt, latin1);
        EXPECT_EQ(shown, row.encrypt ? std::nullopt : std::optional("<bob> " + row.shown))
            << row.text;
    }
    EXPECT_EQ(Utf8BeyondAscii("\xF0\x9F\x98\x80"), std::u16string(u"\U0001F600"));
}

TEST(Display, LinesToDelete) {
    struct Row {
        std::int32_t count, size, expected;
    };
    const Row rows[] = {
        {0, 200, 0}, {200, 200, 0}, {201, 200, 1}, {250, 200, 1}, {0, 0, 0},
        {1, 0, 1},   {0, -5, 0},    {1, -5, 1},    {5, 2, 1},     {2, 2, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(DisplayLinesToDelete(row.count, row.size), row.expected)
            << row.count << " lines, size " << row.size;
    }
}

TEST(Display, TrimAndScroll) {
    struct Run {
        const char* name;
        std::vector<std::pair<int, std::int32_t>> appends; // lines appended, size at the time
        std::size_t count;
        std::string oldest;
    };
    const Run runs[] = {
        {"250 lines with size 200", {{250, 200}}, 201, "line 49"},
        {"size 0", {{5, 0}}, 1, "line 4"},
        {"negative size", {{5, -3}}, 1, "line 4"},
        {"lowering the size does not shrink", {{10, 200}, {2, 3}}, 10, "line 2"},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.name);
        LineDisplay display;
        int n = 0;
        for (const auto& [lines, size] : run.appends) {
            for (int i = 0; i < lines; ++i, ++n)
                AddToDisplay(display, "line " + std::to_string(n), size);
        }
        ASSERT_EQ(display.lines.size(), run.count);
        EXPECT_EQ(display.lines.front(), run.oldest);
        EXPECT_EQ(display.lines.back(), "line " + std::to_string(n - 1));
        EXPECT_EQ(display.scrolls, std::vector<std::int32_t>(n, 1));
    }
}

TEST(Display, EmptyAndMultiLineTexts) {
    LineDisplay display;
    AddToDisplay(display, "", 200);
    EXPECT_TRUE(display.lines.empty());
    EXPECT_TRUE(display.scrolls.empty());

    // A pasted echo with line breaks scrolls by all of its lines.
    AddToDisplay(display, "a\nb\nc", 200);
    AddToDisplay(display, "d", 200);
    EXPECT_EQ(display.lines, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(display.scrolls, (std::vector<std::int32_t>{3, 1}));

    // Over the size, one line goes before the append, whatever the append brings.
    AddToDisplay(display, "e\nf", 2);
    EXPECT_EQ(display.lines, (std::vector<std::string>{"b", "c", "d", "e", "f"}));
    EXPECT_EQ(display.scrolls.back(), 2);
}

TEST(Display, LinesToDropForRoom) {
    struct Row {
        std::vector<std::int64_t> lengths; // each with its break, oldest first
        std::int64_t needed, limit;
        std::int32_t expected;
    };
    const Row rows[] = {
        {{}, 10, 100, 0},
        {{}, 500, 100, 0}, // nothing to drop, even if it cannot fit
        {{10, 10, 10}, 70, 100, 0},
        {{10, 10, 10}, 71, 100, 1},
        {{10, 10, 10}, 80, 100, 1},
        {{10, 10, 10}, 81, 100, 2},
        {{10, 10, 10}, 91, 100, 3},
        {{10, 10, 10}, 100, 100, 3},
        {{10, 10, 10}, 101, 100, 3}, // too big even alone: everything goes
        {{50, 1, 1, 1, 40}, 10, 100, 1},
        {{1, 1, 1, 1, 96}, 5, 100, 5},
        {{1, 1, 1, 1, 96}, 4, 100, 4},
        {{99}, 2, 100, 1},
        {{98}, 2, 100, 0},
    };
    for (const auto& row : rows) {
        std::vector<std::int64_t> starts{0};
        for (const auto length : row.lengths)
            starts.push_back(starts.back() + length);
        const auto count = static_cast<std::int32_t>(row.lengths.size());
        const std::int32_t dropped = DisplayLinesToDropForRoom(
            count, starts.back(), row.needed, row.limit, [&](std::int32_t line) {
                EXPECT_GE(line, 0);
                EXPECT_LT(line, count);
                return starts.at(static_cast<std::size_t>(line));
            });
        EXPECT_EQ(dropped, row.expected)
            << row.lengths.size() << " lines, needed " << row.needed << ", limit " << row.limit;
    }
}

TEST(Display, LinesToDropAsksForFewLineStarts) {
    // 100,000 lines of 20 characters; making room for 30,000 characters drops 1,500 lines.
    constexpr std::int32_t count = 100000;
    int asked = 0;
    const std::int32_t dropped = DisplayLinesToDropForRoom(count, std::int64_t{count} * 20, 30000,
                                                           2000000, [&](std::int32_t line) {
                                                               ++asked;
                                                               return std::int64_t{line} * 20;
                                                           });
    EXPECT_EQ(dropped, 1500);
    EXPECT_LE(asked, 20) << "a large display is bisected, not walked";
}

TEST(Display, CharacterLimitDropsTheOldestLines) {
    struct Run {
        const char* name;
        std::int64_t limit;
        std::size_t lineLength;
        int appends;
        std::int32_t size;
        std::size_t count;      // lines kept
        std::size_t lastLength; // length of the newest line as shown
    };
    const Run runs[] = {
        // A line takes length + 1 and is charged length + 2 before its append.
        {"long lines", 1000, 98, 50, 100000, 10, 98},
        {"short lines", 1000, 10, 300, 100000, 90, 10},
        {"the line count rule still trims first", 1000000, 10, 30, 5, 6, 10},
        {"a line longer than the display is cut", 100, 150, 3, 100000, 1, 98},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.name);
        LineDisplay display;
        display.limit = run.limit;
        for (int n = 0; n < run.appends; ++n) {
            std::string line = "line " + std::to_string(n) + " ";
            line.resize(run.lineLength, '.');
            AddToDisplay(display, line, run.size);
            ASSERT_LE(display.TextLength(), run.limit);
        }
        ASSERT_EQ(display.lines.size(), run.count);
        const std::string newest = "line " + std::to_string(run.appends - 1) + " ";
        EXPECT_EQ(display.lines.back().substr(0, newest.size()), newest);
        EXPECT_EQ(display.lines.back().size(), run.lastLength);
        const std::string oldest =
            "line " + std::to_string(run.appends - static_cast<int>(run.count)) + " ";
        EXPECT_EQ(display.lines.front().substr(0, oldest.size()), oldest);
        EXPECT_EQ(display.scrolls, std::vector<std::int32_t>(run.appends, 1));
    }
}

TEST(Display, LongLinesAreBrokenNotCut) {
    struct Row {
        std::string text;
        std::size_t longest;
        std::string expected;
    };
    const Row rows[] = {
        {"", 4, ""},
        {"abcd", 4, "abcd"},
        {"abcde", 4, "abcd\r\ne"},
        {"abcdefghi", 4, "abcd\r\nefgh\r\ni"},
        {"abcdefgh", 4, "abcd\r\nefgh"},
        {"abc\r\ndefgh", 4, "abc\r\ndefg\r\nh"},
        {"abcd\nefgh\rijklm", 4, "abcd\nefgh\rijkl\r\nm"},
        {"\r\n\r\n", 1, "\r\n\r\n"},
        {"abc", 0, "abc"}, // no limit
    };
    for (const auto& row : rows) {
        EXPECT_EQ(BreakLongLines(row.text, row.longest), row.expected)
            << '"' << row.text << "\" at " << row.longest;
    }
}

TEST(Display, AVeryLongLineIsShownWholeInParagraphs) {
    LineDisplay display;
    std::string line;
    for (std::size_t i = 0; i < 3 * DisplayParagraphLimit + 10; ++i)
        line.push_back(static_cast<char>('a' + i % 26));
    AddToDisplay(display, line, 200);
    ASSERT_EQ(display.lines.size(), 4u);
    std::string joined;
    for (const auto& part : display.lines) {
        EXPECT_LE(part.size(), DisplayParagraphLimit);
        joined += part;
    }
    EXPECT_EQ(joined, line) << "nothing lost";
    EXPECT_EQ(display.scrolls, std::vector<std::int32_t>{4});
}

// Typed lines echoed, channel lines and trims between, then outcomes: a failed line is
// marked in its own echo line while it is shown, else shown again marked at the end.
// Steps: "eN" echo of typed line N, "c" a channel line, "x" clear, "dNo" the outcome of
// line N (o: D delivered, R refused, A no answer, B busy, E link ended, L no link, W
// waited too long, T too many waiting).
TEST(NotSent, MarkedInTheirEchoLines) {
    const std::map<char, TPokeOutcome> outcomes = {
        {'D', TPokeOutcome::Delivered},     {'R', TPokeOutcome::Refused},
        {'A', TPokeOutcome::NoAnswer},      {'B', TPokeOutcome::Busy},
        {'E', TPokeOutcome::LinkEnded},     {'L', TPokeOutcome::NoLink},
        {'W', TPokeOutcome::WaitedTooLong}, {'T', TPokeOutcome::TooManyWaiting}};
    const std::string r = "[NOT SENT: mIRC refused it] ", c = "<bob> said";
    const struct {
        std::int32_t size;
        std::string steps;
        std::vector<std::string> lines;
    } rows[] = {
        {200, "e1 c e2 d1D d2D", {"typed 1", c, "typed 2"}},
        {200, "e1 e2 c d1R d2A", {r + "typed 1", "[NOT SENT: no answer from mIRC] typed 2", c}},
        {2, "e1 e2 c e3 c d3B d2R d1D", {"[NOT SENT: mIRC stayed busy] typed 3", c, r + "typed 2"}},
        {1, "e1 c c d1E", {c, "[NOT SENT: the link to mIRC ended] typed 1"}},
        {200, "e1 x c d1L", {c, "[NOT SENT: no link to mIRC] typed 1"}},
        {200,
         "c d7W d8T",
         {c, "[NOT SENT: waited too long for mIRC] ",
          "[NOT SENT: too many lines waiting for mIRC] "}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.steps);
        LineDisplay display;
        TEchoPositions echoes;
        std::istringstream steps(row.steps);
        for (std::string step; steps >> step;) {
            const std::uint64_t id = step.size() > 1 ? step[1] - '0' : 0;
            const std::string typed = step[0] == 'e' ? "typed " + step.substr(1) : "";
            if (step[0] == 'e') {
                const TDisplayAppend appended = AddToDisplay(display, typed, row.size);
                echoes.Removed(appended.removed);
                echoes.Echoed(id, appended.start);
            } else if (step[0] == 'c') {
                echoes.Removed(AddToDisplay(display, c, row.size).removed);
            } else if (step[0] == 'x') {
                echoes.Removed(display.TextLength());
                display.lines.clear();
            } else { // an id without an echo stands for an empty line
                ReportDelivery(display, echoes, id, id < 7 ? "typed " + step.substr(1, 1) : "",
                               NotSentMark(outcomes.at(step[2])), row.size);
            }
        }
        EXPECT_EQ(display.lines, row.lines);
        EXPECT_EQ(echoes.Size(), 0u) << "every reported echo forgotten";
    }
}
