// Code page 1252 and UTF-8: every byte against Python's codec, and the conversions of
// typed text, refusals included.
#include "bridge/Cp1252.h"
#include "harness/kit/Vectors.h"

#include <gtest/gtest.h>

namespace velkor {
namespace {

TEST(Cp1252, EveryByteAgainstAnIndependentTable) {
    auto rows = test::LoadVectors("../weechat/cp1252.txt", 2);
    ASSERT_EQ(rows.size(), 256u);
    for (const auto& row : rows) {
        auto b = static_cast<unsigned char>(std::stoul(row[0], nullptr, 16));
        std::optional<char32_t> c = Cp1252Character(b);
        if (row[1] == "-") {
            EXPECT_FALSE(c) << row[0];
            EXPECT_FALSE(Cp1252ToUtf8(std::string(1, static_cast<char>(b)))) << row[0];
            continue;
        }
        auto want = static_cast<char32_t>(std::stoul(row[1], nullptr, 16));
        ASSERT_TRUE(c) << row[0];
        EXPECT_EQ(*c, want) << row[0];
        EXPECT_EQ(Cp1252Byte(want), b) << row[0];
        // The UTF-8 text of the byte comes back as the byte.
        std::optional<std::string> utf8 = Cp1252ToUtf8(std::string(1, static_cast<char>(b)));
        ASSERT_TRUE(utf8) << row[0];
        EXPECT_EQ(Utf8ToCp1252(*utf8).Bytes, std::string(1, static_cast<char>(b))) << row[0];
    }
}

struct Utf8Case {
    const char* What;
    std::string Utf8;
    std::string Bytes; // expected, when no error
    TCp1252Error Error;
    char32_t Character;
    std::size_t Offset;
};

TEST(Cp1252, FromUtf8) {
    using E = TCp1252Error;
    const Utf8Case cases[] = {
        {"empty", "", "", E::None, 0, 0},
        {"accents and euro", "caf\xC3\xA9 20 \xE2\x82\xAC", "caf\xE9 20 \x80", E::None, 0, 0},
        {"typographic quotes and dash", "\xE2\x80\x9Cok\xE2\x80\x9D \xE2\x80\x94 \xC5\x92",
         "\x93ok\x94 \x97 \x8C", E::None, 0, 0},
        {"Latin-1 top", "\xC3\xBF\xC2\xA0", "\xFF\xA0", E::None, 0, 0},
        {"arrow has no form", "go \xE2\x86\x92 there", "", E::NoForm, 0x2192, 3},
        {"CJK has no form", "\xE6\x97\xA5", "", E::NoForm, 0x65E5, 0},
        {"emoji has no form", "hi \xF0\x9F\x98\x80", "", E::NoForm, 0x1F600, 3},
        {"C1 control U+0085 is not byte 0x85", "\xC2\x85", "", E::NoForm, 0x85, 0},
        {"truncated sequence", "ab\xC3", "", E::InvalidUtf8, 0, 2},
        {"stray continuation byte", "\x80", "", E::InvalidUtf8, 0, 0},
        {"overlong slash", "\xC0\xAF", "", E::InvalidUtf8, 0, 0},
        {"surrogate", "x\xED\xA0\x80", "", E::InvalidUtf8, 0, 1},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "", E::InvalidUtf8, 0, 0},
        {"Latin-1 byte as if it were UTF-8", "caf\xE9", "", E::InvalidUtf8, 0, 3},
    };
    for (const auto& c : cases) {
        TCp1252Text t = Utf8ToCp1252(c.Utf8);
        EXPECT_EQ(t.Error, c.Error) << c.What;
        EXPECT_EQ(t.Bytes, c.Bytes) << c.What;
        if (c.Error != E::None) {
            EXPECT_EQ(t.Offset, c.Offset) << c.What;
        }
        if (c.Error == E::NoForm) {
            EXPECT_EQ(t.Character, c.Character) << c.What;
        }
        if (c.Error == E::None) {
            EXPECT_EQ(Cp1252ToUtf8(t.Bytes), c.Utf8) << c.What;
        }
    }
}

} // namespace
} // namespace velkor
