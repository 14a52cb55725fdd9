// Every instruction-set level of the block loops against the scalar code: all lengths
// up to one chunk, unaligned buffers, keys with zero multiplicative sub-keys.
#include "tests/crypto/crypto_test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace velkor::test {
namespace {

struct ModeCase {
    TCipherMode mode;
    bool encipher;
    const char* name;
};
// The modes whose blocks reach the multi-block code, and one chained mode as a check
// that the level leaves the single-block path alone.
const ModeCase Modes[] = {{TCipherMode::ECBMode, true, "ECB encipher"},
                          {TCipherMode::ECBMode, false, "ECB decipher"},
                          {TCipherMode::CBCMode, false, "CBC decipher"},
                          {TCipherMode::CFBMode, false, "CFB decipher"},
                          {TCipherMode::CBCMode, true, "CBC encipher"}};

class Level : public ::testing::TestWithParam<IdeaLevel> {
  protected:
    void SetUp() override {
        if (!IdeaLevelSupported(GetParam()))
            GTEST_SKIP() << "this processor lacks " << IdeaLevelName(GetParam())
                         << "; that level is not run here";
    }

    // The same key, mode and IVector at the level under test and at the scalar level.
    void Prepare(TIDEA& c, const std::string& key, TCipherMode mode, IdeaLevel level) {
        c.SetKey(key);
        c.SetCipherMode(mode);
        c.SetIVector("v3ct0r!?");
        c.SetLevel(level);
        ASSERT_EQ(c.Level(), level);
    }
};

TEST_P(Level, EveryLengthUpToAChunkMatchesScalar) {
    std::mt19937 rng(41);
    for (std::size_t n = 0; n <= 4096; ++n) {
        std::string key(16, '\0');
        for (auto& ch : key)
            ch = static_cast<char>(1 + rng() % 255);
        Bytes data = EdgyBytes(rng, n);
        std::size_t inOffset = rng() % 64, outOffset = rng() % 64;
        for (const auto& m : Modes) {
            TIDEA ours, scalar;
            Prepare(ours, key, m.mode, GetParam());
            Prepare(scalar, key, m.mode, IdeaLevel::Scalar);
            OffsetRun got = RunBytesAt(ours, m.encipher, data, inOffset, outOffset);
            Bytes want = RunBytes(scalar, m.encipher, data);
            ASSERT_FALSE(got.wrotePast) << m.name << " n=" << n;
            ASSERT_EQ(got.out, want)
                << m.name << " n=" << n << " offsets " << inOffset << "," << outOffset;
            if (m.mode != TCipherMode::ECBMode && n > 0) {
                // The chaining state carries into the next call.
                ASSERT_EQ(Bytes(ours.FeedbackBlock(), ours.FeedbackBlock() + 8),
                          Bytes(scalar.FeedbackBlock(), scalar.FeedbackBlock() + 8))
                    << m.name << " n=" << n;
            }
        }
    }
}

// Sub-keys of 0 stand for 65536 and take the general multiplication.
TEST_P(Level, KeysWithZeroSubKeysMatchScalar) {
    std::mt19937 rng(42);
    std::vector<Bytes> keys = {Bytes(16, 0x00), Bytes(16, 0xFF),
                               HexBytes("00000001000200030004000500060007")};
    for (int i = 0; i < 20; ++i) {
        Bytes k = RandomBytes(rng, 16);
        std::size_t word = rng() % 8;
        k[2 * word] = k[2 * word + 1] = 0; // one key word 0: a zero sub-key in round one or later
        keys.push_back(k);
    }
    for (const auto& key : keys)
        for (std::size_t n : {8u, 24u, 64u, 136u, 520u, 1032u, 4096u}) {
            Bytes data = EdgyBytes(rng, n);
            for (bool encipher : {true, false}) {
                RawKeyIDEA ours(key), scalar(key);
                ours.SetLevel(GetParam());
                scalar.SetLevel(IdeaLevel::Scalar);
                ASSERT_EQ(RunBytes(ours, encipher, data), RunBytes(scalar, encipher, data))
                    << "n=" << n << (encipher ? " encipher" : " decipher");
            }
        }
}

TEST_P(Level, SlicedBlocksInPlaceEqualsOutOfPlaceAndStopsAtItsCount) {
    std::mt19937 rng(43);
    TIDEA keyed;
    keyed.LoadKeyBlock({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    const std::uint16_t* key = keyed.EncipherKeys().data();
    for (std::size_t count = 0; count <= 300; ++count) {
        Bytes in = EdgyBytes(rng, 8 * count + 8), out(8 * count + 8, 0xEE);
        std::size_t done = IdeaSlicedBlocks(GetParam(), key, in.data() + 1, out.data() + 3, count);
        Bytes inPlace = in;
        std::size_t doneInPlace =
            IdeaSlicedBlocks(GetParam(), key, inPlace.data() + 1, inPlace.data() + 1, count);
        ASSERT_EQ(done, doneInPlace);
        if (GetParam() == IdeaLevel::Scalar)
            ASSERT_EQ(done, 0u);
        else
            ASSERT_GE(done + 2, count) << "count=" << count; // at most two blocks are left over
        ASSERT_LE(done, count);
        ASSERT_TRUE(std::equal(out.begin() + 3, out.begin() + 3 + 8 * done, inPlace.begin() + 1));
        ASSERT_TRUE(std::all_of(out.begin() + 3 + 8 * done, out.end(),
                                [](std::uint8_t x) { return x == 0xEE; }))
            << "count=" << count;
        ASSERT_TRUE(
            std::equal(in.begin() + 1 + 8 * done, in.end(), inPlace.begin() + 1 + 8 * done));
    }
}

INSTANTIATE_TEST_SUITE_P(Idea, Level, ::testing::ValuesIn(AllIdeaLevels),
                         [](const auto& info) { return std::string(IdeaLevelName(info.param)); });

TEST(IdeaLevels, NamesParseBack) {
    for (IdeaLevel level : AllIdeaLevels)
        EXPECT_EQ(ParseIdeaLevel(IdeaLevelName(level)), level);
    for (const char* bad : {"", "AVX2", "avx", "sse", "avx-512", "scalar "})
        EXPECT_FALSE(ParseIdeaLevel(bad)) << bad;
}

TEST(IdeaLevels, StartLevelFollowsTheEnvironmentWithinTheProcessor) {
    const char* env = std::getenv("VELKOR_IDEA_LEVEL");
    std::optional<IdeaLevel> wanted = env ? ParseIdeaLevel(env) : std::nullopt;
    IdeaLevel expect = wanted ? std::min(*wanted, IdeaBestLevel()) : IdeaBestLevel();
    EXPECT_EQ(IdeaStartLevel(), expect) << "VELKOR_IDEA_LEVEL=" << (env ? env : "(unset)");
    // Set where the processor is known (an emulated one): the best level it must get.
    if (const char* best = std::getenv("VELKOR_TEST_BEST_LEVEL")) {
        EXPECT_EQ(IdeaLevelName(IdeaBestLevel()), best);
    }
    EXPECT_EQ(TIDEA().Level(), expect);
    EXPECT_TRUE(IdeaLevelSupported(IdeaLevel::Scalar));
    TIDEA c;
    c.SetLevel(IdeaLevel::Avx512); // a level the processor lacks is lowered, never run
    EXPECT_EQ(c.Level(), IdeaBestLevel());
}

} // namespace
} // namespace velkor::test
