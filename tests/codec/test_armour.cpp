// The armour and the digit: characters, groups, fill and the wire text's envelope.
#include "chat/Linecodec.h"
#include "harness/kit/Vectors.h"

#include <gtest/gtest.h>

#include <random>

namespace velkor::chat {
namespace {

static_assert(ArmourChar(0) == '`' && ArmourChar(1) == '!' && ArmourChar(63) == '_');
static_assert(ArmourValue(' ') == 0 && ArmourValue('`') == 0 && ArmourValue('a') == 1);

TEST(Armour, WorkedExamples) {
    for (const auto& row : test::LoadVectors("armour-examples.txt", 2)) {
        std::string bytes = test::FromHex(row[0]);
        EXPECT_EQ(PackWire(bytes), row[1]) << row[0];
        EXPECT_EQ(UnpackWire(row[1]), bytes) << row[1];
    }
}

TEST(Armour, EverySextetHasOnePrintableCharacter) {
    for (int s = 0; s < 64; ++s) {
        char c = ArmourChar(static_cast<std::uint8_t>(s));
        EXPECT_GE(c, 33) << s;
        EXPECT_LE(c, 96) << s;
        EXPECT_EQ(ArmourValue(c), s);
    }
}

// Characters outside the alphabet read modulo 64, never refused.
TEST(Armour, ValuesReadModulo64) {
    struct Case {
        char c;
        int value;
    } cases[] = {
        {' ', 0},     {'`', 0},     {'!', 1},     {'a', 1},   {'_', 63},    {'@', 32}, {'~', 30},
        {'\x7f', 31}, {'\x80', 32}, {'\xff', 31}, {'\0', 32}, {'\x1f', 63}, {'z', 26}, {'Z', 58},
    };
    for (const auto& k : cases)
        EXPECT_EQ(ArmourValue(k.c), k.value) << "code " << int(static_cast<unsigned char>(k.c));
}

TEST(Armour, EncodeDecodeRoundTrip) {
    std::mt19937 rng(20240611);
    for (std::size_t n = 0; n <= 1200; n += 3) {
        std::string bytes(n, '\0');
        for (auto& b : bytes)
            b = static_cast<char>(rng());
        std::string text = ArmourEncode(bytes);
        ASSERT_EQ(text.size(), n / 3 * 4);
        EXPECT_EQ(text.find(' '), std::string::npos);
        EXPECT_EQ(ArmourDecode(text), bytes) << n;
    }
}

TEST(Armour, WrongLengthsGiveTheEmptyText) {
    for (std::string bytes : {"a", "ab", "abcd", "abcde"})
        EXPECT_EQ(ArmourEncode(bytes), "") << bytes;
    for (std::string text : {"!", "!!", "!!!", "!!!!!", "!!!!!!!"})
        EXPECT_EQ(ArmourDecode(text), "") << text;
}

// The fill spaces show in the last group: "`@" after digit 1, "@" after digit 2.
TEST(Armour, FillShowsInTheLastGroup) {
    for (std::size_t n = 1; n <= 40; ++n) {
        std::string bytes(n, 'Q');
        std::string wire = PackWire(bytes);
        ASSERT_EQ(wire[0], '0' + static_cast<int>(n % 3));
        if (n % 3 == 1) {
            EXPECT_EQ(wire.substr(wire.size() - 2), "`@");
        } else if (n % 3 == 2) {
            EXPECT_EQ(wire.back(), '@');
        }
        EXPECT_EQ(UnpackWire(wire), bytes);
    }
}

TEST(Armour, UnpackRefusalsAndTrustedDigit) {
    struct Case {
        std::string wire;
        std::optional<std::string> bytes;
    } cases[] = {
        {"", std::nullopt},
        {"3", std::nullopt},
        {"a!!!!", std::nullopt},
        {" !!!!", std::nullopt},
        {"0!", std::nullopt},
        {"0!!", std::nullopt},
        {"0!!!", std::nullopt},
        {"0!!!!!", std::nullopt},
        {"0", ""},
        {"1", ""},
        {"2", ""},
        // The digit is trusted even when it does not match the fill.
        {"0````", std::string(3, '\0')},
        {"1````", std::string(1, '\0')},
        {"2````", std::string(2, '\0')},
    };
    for (const auto& k : cases)
        EXPECT_EQ(UnpackWire(k.wire), k.bytes) << '"' << k.wire << '"';
}

} // namespace
} // namespace velkor::chat
