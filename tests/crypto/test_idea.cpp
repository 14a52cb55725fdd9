// IDEA: published vectors through the component, modular arithmetic, key text framing.
#include "tests/crypto/crypto_test_util.h"

#include <gtest/gtest.h>

namespace velkor::test {
namespace {

TEST(Idea, PublishedVectorsBothWaysThroughTheComponent) {
    const auto kats = LoadVectors("idea-kat.txt", 3); // key, plaintext, ciphertext
    ASSERT_GE(kats.size(), 4u) << "vector file missing or empty";
    for (const auto& k : kats) {
        SCOPED_TRACE(k[0] + " " + k[1]);
        RawKeyIDEA idea(HexBytes(k[0]));
        EXPECT_EQ(RunBytes(idea, true, HexBytes(k[1])), HexBytes(k[2]));
        EXPECT_EQ(RunBytes(idea, false, HexBytes(k[2])), HexBytes(k[1]));
    }
}

// Multiplication modulo 65537 computed the long way, 0 standing for 65536.
std::uint16_t SlowMul(std::uint32_t a, std::uint32_t b) {
    std::uint64_t p = std::uint64_t(a ? a : 65536) * (b ? b : 65536) % 65537;
    return static_cast<std::uint16_t>(p == 65536 ? 0 : p);
}

TEST(Idea, MulModKnownValues) {
    struct Case {
        std::uint16_t a, b, want;
    } cases[] = {{0, 0, 1}, {0, 1, 0}, {0, 2, 65535}, {65535, 65535, 4}, {1, 1, 1}, {2, 32769, 1}};
    for (auto c : cases)
        EXPECT_EQ(TIDEA::MulMod(c.a, c.b), c.want) << c.a << " * " << c.b;
}

TEST(Idea, MulModAgreesWithLongArithmetic) {
    std::mt19937 rng(7);
    for (int i = 0; i < 200000; ++i) {
        std::uint16_t a = static_cast<std::uint16_t>(rng()), b = static_cast<std::uint16_t>(rng());
        ASSERT_EQ(TIDEA::MulMod(a, b), SlowMul(a, b)) << a << " * " << b;
    }
    for (std::uint32_t a = 0; a < 65536; a += 257) // edges against every small operand
        for (std::uint32_t b : {0u, 1u, 2u, 65535u})
            ASSERT_EQ(TIDEA::MulMod(std::uint16_t(a), std::uint16_t(b)), SlowMul(a, b));
}

TEST(Idea, MulInverseOfEveryWord) {
    EXPECT_EQ(TIDEA::MulInverse(0), 0);
    EXPECT_EQ(TIDEA::MulInverse(1), 1);
    for (std::uint32_t x = 2; x < 65536; ++x) {
        std::uint16_t inv = TIDEA::MulInverse(static_cast<std::uint16_t>(x));
        ASSERT_EQ(SlowMul(x, inv), 1) << x;
    }
}

// Key text framing: what the key block is made of.
TEST(Idea, KeyTextFraming) {
    auto blockOf = [](const std::string& key) {
        TIDEA idea;
        idea.SetKey(key);
        Bytes one(8, 0x42);
        RunBytes(idea, true, one);
        return Bytes(idea.KeyBlock().begin(), idea.KeyBlock().end());
    };
    auto padded = [](std::string s) {
        s.resize(17, '\0');
        return Bytes(s.begin(), s.end());
    };
    const std::string sixteen = "0123456789abcdef";
    struct Case {
        const char* what;
        std::string key;
        Bytes want;
    } cases[] = {
        {"empty key is sixteen zero bytes", "", Bytes(17, 0)},
        {"short key is zero-filled", "abc", padded("abc")},
        {"sixteen characters", sixteen, padded(sixteen)},
        {"characters past the sixteenth are ignored", sixteen + "XYZ", padded(sixteen)},
        {"fifteen characters leave the last byte zero", sixteen.substr(0, 15),
         padded(sixteen.substr(0, 15))},
        {"a zero character ends the key", std::string("ab\0cd", 5), padded("ab")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(blockOf(c.key), c.want) << c.what;
}

TEST(Idea, ShortKeyAfterLongKeyMatchesFreshObject) {
    Bytes data(64);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7);
    TIDEA reused;
    reused.SetKey("a much longer key text than sixteen");
    RunBytes(reused, true, data);
    reused.SetKey("short");
    TIDEA fresh;
    fresh.SetKey("short");
    EXPECT_EQ(RunBytes(reused, true, data), RunBytes(fresh, true, data));
    // and the two keys really differ
    TIDEA longer;
    longer.SetKey("a much longer key text than sixteen");
    EXPECT_NE(RunBytes(longer, true, data), RunBytes(fresh, true, data));
}

TEST(Idea, DecipherScheduleUndoesEncipherScheduleForRandomKeys) {
    std::mt19937 rng(11);
    for (int i = 0; i < 200; ++i) {
        Bytes key = RandomBytes(rng, 16), block = RandomBytes(rng, 8);
        // Sparse keys give sub-keys of 0 and 1, the edge words of the inversion.
        if (i % 2)
            for (auto& b : key)
                b = rng() % 4 == 0 ? static_cast<std::uint8_t>(rng() % 2) : 0;
        RawKeyIDEA idea(key);
        Bytes c = RunBytes(idea, true, block);
        for (int k = 0; k < 9; ++k) {
            ASSERT_EQ(idea.DecipherKeys()[6 * k],
                      TIDEA::MulInverse(idea.EncipherKeys()[48 - 6 * k]));
            ASSERT_EQ(idea.DecipherKeys()[6 * k + 3],
                      TIDEA::MulInverse(idea.EncipherKeys()[51 - 6 * k]));
        }
        ASSERT_EQ(RunBytes(idea, false, c), block);
    }
}

} // namespace
} // namespace velkor::test
