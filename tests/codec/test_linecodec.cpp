// The line codec through a real IDEA component: pinned wire texts, lengths, round trips,
// zero cipher bytes, cut wire texts from other programs, refusals and tolerances.
#include "chat/Linecodec.h"
#include "harness/kit/Vectors.h"

#include <gtest/gtest.h>

#include <random>

namespace velkor::chat {
namespace {

std::size_t CipherBytes(std::size_t lineLength) {
    return (lineLength + 7) / 8 * 8;
}
std::size_t WireLength(std::size_t n) {
    return 1 + (n + 2) / 3 * 4;
}

std::string RandomLine(std::mt19937& rng, std::size_t n) {
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(1 + rng() % 255); // no zero byte
    return s;
}

bool IsWireCharset(const std::string& wire) {
    for (std::size_t i = 1; i < wire.size(); ++i) {
        int c = static_cast<unsigned char>(wire[i]);
        if (c < 33 || c > 96) return false;
    }
    return true;
}

TEST(LineCodec, PinnedWireTexts) {
    TIDEA idea;
    for (const auto& row : test::LoadVectors("wire-lines.txt", 3)) {
        std::string key = test::FromHex(row[0]), line = test::FromHex(row[1]);
        EXPECT_EQ(EncryptLine(idea, line, key), row[2]) << row[1];
        EXPECT_EQ(DecryptLine(idea, row[2], key), line) << row[1];
    }
}

TEST(LineCodec, LengthTable) {
    TIDEA idea;
    for (const auto& row : test::LoadVectors("wire-lengths.txt", 4)) {
        std::size_t n = std::stoul(row[2]), wireLength = std::stoul(row[3]);
        for (std::size_t length : {std::stoul(row[0]), std::stoul(row[1])}) {
            for (std::string key : {"a", "Enter Key!", "zzzzzzzzzzzzzzzzzzzz"}) {
                std::string wire = EncryptLine(idea, std::string(length, 'm'), key);
                EXPECT_EQ(wire.size(), wireLength) << length << " " << key;
                EXPECT_EQ(wire[0], '0' + static_cast<int>(n % 3)) << length;
            }
        }
    }
}

// Every length, several keys; some of these ciphertexts hold zero bytes and must go
// through whole like the rest.
TEST(LineCodec, RoundTripEveryLength) {
    const std::string keys[] = {"",
                                "k",
                                "Enter Key!",
                                "sixteen-byte-key",
                                "a much longer key text",
                                "\xe4\xf6\xfc\xff\x80"};
    std::mt19937 rng(7);
    TIDEA idea;
    int withZero = 0;
    for (const auto& key : keys) {
        for (std::size_t length = 1; length <= MaxLineBytes; ++length) {
            std::string line = RandomLine(rng, length);
            std::string wire = EncryptLine(idea, line, key);
            std::size_t n = CipherBytes(length);
            ASSERT_EQ(wire.size(), WireLength(n)) << length;
            ASSERT_EQ(wire[0], '0' + static_cast<int>(n % 3)) << length;
            ASSERT_TRUE(IsWireCharset(wire)) << length;
            ASSERT_EQ(DecryptLine(idea, wire, key), line) << "length " << length;
            ASSERT_EQ(EncryptLine(idea, line, key), wire) << "not deterministic at " << length;
            if (EncipherText(idea, line, key).find('\0') != std::string::npos) ++withZero;
        }
    }
    EXPECT_GT(withZero, 100);
}

// Searches keys until the ciphertext of line meets want; the search is deterministic.
template <class Want>
std::string FindKey(TIDEA& idea, const std::string& line, const std::string& stem, Want want) {
    for (int i = 0; i < 50000; ++i) {
        std::string key = stem + std::to_string(i);
        if (want(EncipherText(idea, line, key))) return key;
    }
    return {};
}

TEST(LineCodec, ZeroCipherBytesDoNotCutTheLine) {
    TIDEA idea;
    struct Case {
        std::string line;
        bool firstByte; // the zero must be the first cipher byte
    } cases[] = {
        {"the zero byte must not cut this line, nor the next", false},
        {"hi", true},
        {std::string(200, '#'), false},
    };
    for (const auto& k : cases) {
        std::string key = FindKey(idea, k.line, "probe-", [&](const std::string& c) {
            return k.firstByte ? c[0] == '\0' : c.find('\0') != std::string::npos;
        });
        ASSERT_FALSE(key.empty()) << k.line;
        std::string cipher = EncipherText(idea, k.line, key);
        ASSERT_NE(cipher.find('\0'), std::string::npos);
        ASSERT_EQ(cipher.size(), CipherBytes(k.line.size()));
        std::string wire = EncryptLine(idea, k.line, key);
        EXPECT_EQ(wire.size(), WireLength(cipher.size())) << key;
        EXPECT_NE(wire, "0");
        EXPECT_EQ(DecryptLine(idea, wire, key), k.line) << key;
    }
}

// Wire texts cut before a zero cipher byte, as other programs may still send them.
TEST(LineCodec, CutWireTextsFromOtherPrograms) {
    TIDEA idea;
    const std::string key = "cut";
    const std::string line = "0123456789abcdefghijklmnopqrstuvwxyzABCD"; // 40 bytes
    std::string cipher = EncipherText(idea, line, key);
    ASSERT_EQ(cipher.size(), 40u);
    for (std::size_t z : {0, 1, 3, 7, 8, 13, 16, 23, 24, 39}) {
        std::string wire = PackWire(cipher.substr(0, z));
        std::string got = DecryptLine(idea, wire, key);
        std::string whole = line.substr(0, z / 8 * 8);
        if (z == 0) {
            EXPECT_EQ(wire, "0");
        }
        if (z % 8 == 0) {
            EXPECT_EQ(got, whole) << z;
        } else {
            // The block holding the cut deciphers to at most 8 bytes of noise.
            EXPECT_EQ(got.substr(0, whole.size()), whole) << z;
            EXPECT_LE(got.size(), whole.size() + 8) << z;
        }
    }
}

TEST(LineCodec, DecryptRefusals) {
    TIDEA idea;
    const std::string key = "refuse";
    std::string full = EncryptLine(idea, std::string(MaxLineBytes, 'w'), key);
    ASSERT_EQ(full.size(), 1369u);
    ASSERT_EQ(full[0], '1'); // 1024 cipher bytes and two fill spaces: 1026 bytes of body
    std::string body = full.substr(1);
    std::string valid = EncryptLine(idea, "valid line", key);
    struct Case {
        std::string wire;
        const char* why;
    } cases[] = {
        {"", "nothing"},
        {"0", "digit alone"},
        {"1", "digit alone"},
        {"2", "digit alone"},
        {"0!", "body of 1"},
        {"0!!", "body of 2"},
        {"0!!!", "body of 3"},
        {"0!!!!!", "body of 5"},
        {valid + "!", "body one over a group"},
        {"0" + body, "1026 bytes with digit 0"},
        {"2" + body, "1025 bytes with digit 2"},
        {"3" + valid.substr(1), "digit 3"},
        {"x" + valid.substr(1), "not a digit"},
        {" " + valid.substr(1), "space for a digit"},
    };
    for (const auto& k : cases) {
        std::string got;
        EXPECT_NO_THROW(got = DecryptLine(idea, k.wire, key)) << k.why;
        EXPECT_EQ(got, "") << k.why;
    }
    EXPECT_EQ(DecryptLine(idea, full, key), std::string(MaxLineBytes, 'w'));
    EXPECT_EQ(DecryptLine(idea, valid, key), "valid line");
}

TEST(LineCodec, ToleratedChangesInTransit) {
    TIDEA idea;
    const std::string key = "transit";
    const std::string line = "twelve bytes"; // 16 cipher bytes: digit 1, ends in "`@"
    std::string wire = EncryptLine(idea, line, key);
    ASSERT_EQ(wire[0], '1');

    auto replaced = [&](char from, char to) {
        std::string w = wire;
        for (std::size_t i = 1; i < w.size(); ++i)
            if (w[i] == from) w[i] = to;
        return w;
    };
    std::string lower = wire;
    for (std::size_t i = 1; i < lower.size(); ++i)
        if (lower[i] >= 33 && lower[i] <= 63) lower[i] = static_cast<char>(lower[i] + 64);
    ASSERT_NE(lower, wire);

    struct Case {
        std::string wire;
        const char* why;
    } cases[] = {
        {replaced('`', ' '), "backquote as space"},
        {lower, "characters 64 codes higher, lower-case letters among them"},
        {"0" + wire.substr(1), "digit 0 keeps both fill spaces"},
        {"2" + wire.substr(1), "digit 2 keeps one fill space"},
    };
    for (const auto& k : cases) {
        ASSERT_NE(k.wire, wire) << k.why;
        EXPECT_EQ(DecryptLine(idea, k.wire, key), line) << k.why;
    }
}

TEST(LineCodec, EncryptRefusalsLeaveTheComponentAlone) {
    TIDEA idea;
    struct Case {
        std::string line;
        const char* why;
    } cases[] = {
        {"", "empty line"},
        {std::string(MaxLineBytes + 1, 'x'), "1025 bytes"},
        {std::string(5000, 'x'), "over the component's own limit"},
        {std::string("\0abc", 4), "zero byte first"},
        {std::string("ab\0cd", 5), "zero byte inside"},
        {std::string("abcd\0", 5), "zero byte last"},
    };
    for (const auto& k : cases) {
        idea.SetInputString("untouched");
        idea.SetInputType(TSourceType::SourceFile);
        std::string got = "x";
        EXPECT_NO_THROW(got = EncryptLine(idea, k.line, "key")) << k.why;
        EXPECT_EQ(got, "") << k.why;
        EXPECT_EQ(idea.InputString(), "untouched") << k.why;
        EXPECT_EQ(idea.InputType(), TSourceType::SourceFile) << k.why;
    }
    idea.SetInputLength(7);
    EXPECT_EQ(DecipherText(idea, std::string(MaxLineBytes + 1, 'x'), "key"), "");
    EXPECT_EQ(idea.InputLength(), 7);
}

// One borrowed instance carries nothing from call to call: a new key takes effect with
// the next line, and a used instance gives what a fresh one gives.
TEST(LineCodec, NoStateBetweenCalls) {
    TIDEA used;
    TIDEA fresh;
    const std::string line = "same line, two keys";
    std::string underA = EncryptLine(used, line, "key A");
    std::string underB = EncryptLine(used, line, "key B");
    EXPECT_NE(underA, underB);
    EXPECT_EQ(DecryptLine(used, underA, "key A"), line);
    EXPECT_NE(DecryptLine(used, underB, "key A"), line);
    EXPECT_EQ(EncryptLine(used, line, "key B"), underB);
    EXPECT_EQ(EncryptLine(fresh, line, "key B"), underB);
    // The call's buffers are gone; the component must not keep pointers to them.
    EXPECT_EQ(used.OutputBuffer, nullptr);
    EXPECT_EQ(used.InputBuffer, nullptr);
}

} // namespace
} // namespace velkor::chat
