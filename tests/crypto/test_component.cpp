// The component's modes and sources: properties that hold for any correct block cipher
// framing, the documented edge cases, and the refused preconditions.
#include "tests/crypto/crypto_test_util.h"

#include <gtest/gtest.h>

#include <cstring>

namespace velkor::test {
namespace {

const TCipherMode AllModes[] = {TCipherMode::ECBMode, TCipherMode::CBCMode, TCipherMode::CFBMode};

const char* Name(TCipherMode m) {
    return m == TCipherMode::ECBMode ? "ECB" : m == TCipherMode::CBCMode ? "CBC" : "CFB";
}

std::unique_ptr<TIDEA> Make(TCipherMode mode, const std::string& key = "secret key",
                            const std::string& iv = "IV:12345") {
    auto c = std::make_unique<TIDEA>();
    c->SetKey(key);
    c->SetCipherMode(mode);
    c->SetIVector(iv);
    return c;
}

std::size_t Padded(TCipherMode m, std::size_t n) {
    return m == TCipherMode::CFBMode ? n : (n + 7) / 8 * 8;
}

TEST(Component, RoundTripEveryModeAndLength) {
    std::mt19937 rng(1);
    for (auto mode : AllModes)
        for (std::size_t n : {0, 1, 7, 8, 9, 13, 4095, 4096}) {
            SCOPED_TRACE(std::string(Name(mode)) + " n=" + std::to_string(n));
            Bytes plain = RandomBytes(rng, n);
            auto enc = Make(mode);
            Bytes cipher = RunBytes(*enc, true, plain);
            ASSERT_EQ(cipher.size(), Padded(mode, n));
            auto dec = Make(mode);
            Bytes back = RunBytes(*dec, false, cipher);
            Bytes want = plain;
            want.resize(Padded(mode, n), 0); // zero fill shows up after deciphering
            EXPECT_EQ(back, want);
        }
}

TEST(Component, TextSourceGivesTheByteArrayBytes) {
    std::mt19937 rng(2);
    for (auto mode : AllModes)
        for (std::size_t n : {1, 8, 100, 4096}) {
            Bytes plain = RandomBytes(rng, n);
            auto a = Make(mode);
            Bytes viaBytes = RunBytes(*a, true, plain);
            auto b = Make(mode);
            Bytes out(Padded(mode, n) + 8, 0xEE);
            b->SetInputString(std::string(plain.begin(), plain.end()));
            b->SetInputType(TSourceType::SourceString);
            b->OutputBuffer = out.data();
            b->EncipherInput(false);
            ASSERT_EQ(b->InputLength(), Padded(mode, n));
            out.resize(b->InputLength());
            EXPECT_EQ(out, viaBytes) << Name(mode) << " n=" << n;
        }
}

TEST(Component, InPlaceEqualsOutOfPlace) {
    std::mt19937 rng(3);
    for (auto mode : AllModes)
        for (bool encipher : {true, false}) {
            Bytes data = RandomBytes(rng, 4096);
            auto a = Make(mode);
            Bytes separate = RunBytes(*a, encipher, data);
            auto b = Make(mode);
            Bytes buf = data;
            b->SetInputType(TSourceType::SourceByteArray);
            b->SetInputLength(4096);
            b->InputBuffer = buf.data();
            b->OutputBuffer = buf.data();
            encipher ? b->EncipherInput(false) : b->DecipherInput(false);
            EXPECT_EQ(buf, separate) << Name(mode) << (encipher ? " enc" : " dec");
        }
}

TEST(Component, ResumeChainEqualsOneCall) {
    std::mt19937 rng(4);
    for (auto mode : AllModes)
        for (bool encipher : {true, false})
            for (std::size_t chunk : {8, 16, 24, 4096 - 8}) {
                Bytes data = RandomBytes(rng, 4096);
                auto whole = Make(mode);
                Bytes once = RunBytes(*whole, encipher, data);
                auto split = Make(mode);
                EXPECT_EQ(RunChunked(*split, encipher, data, chunk), once)
                    << Name(mode) << (encipher ? " enc" : " dec") << " chunk=" << chunk;
            }
}

TEST(Component, CbcVectorActsAsPreviousCipherBlock) {
    std::mt19937 rng(5);
    Bytes plain = RandomBytes(rng, 32);
    auto whole = Make(TCipherMode::CBCMode);
    Bytes c = RunBytes(*whole, true, plain);
    auto rest = Make(TCipherMode::CBCMode, "secret key", std::string(c.begin(), c.begin() + 8));
    Bytes tail(plain.begin() + 8, plain.end());
    EXPECT_EQ(RunBytes(*rest, true, tail), Bytes(c.begin() + 8, c.end()));
}

TEST(Component, EqualBlocksEqualOnlyInEcb) {
    Bytes plain(16, 0x5A);
    for (auto mode : AllModes) {
        auto c = Make(mode);
        Bytes out = RunBytes(*c, true, plain);
        bool same = std::memcmp(out.data(), out.data() + 8, 8) == 0;
        EXPECT_EQ(same, mode == TCipherMode::ECBMode) << Name(mode);
    }
}

TEST(Component, ZeroFillOfAFiveByteArray) {
    Bytes plain = {1, 2, 3, 4, 5};
    auto enc = Make(TCipherMode::ECBMode);
    Bytes cipher = RunBytes(*enc, true, plain);
    EXPECT_EQ(enc->InputLength(), 8);
    auto ref = Make(TCipherMode::ECBMode);
    EXPECT_EQ(RunBytes(*ref, true, Bytes{1, 2, 3, 4, 5, 0, 0, 0}), cipher);
    auto dec = Make(TCipherMode::ECBMode);
    EXPECT_EQ(RunBytes(*dec, false, cipher), (Bytes{1, 2, 3, 4, 5, 0, 0, 0}));
    EXPECT_EQ(dec->InputLength(), 8);
}

TEST(Component, EmptyInputTouchesNothing) {
    for (auto mode : AllModes)
        for (bool encipher : {true, false})
            for (bool text : {false, true}) {
                if (text && !encipher) continue;
                auto c = Make(mode);
                Bytes out(16, 0xEE);
                c->OutputBuffer = out.data();
                if (text) {
                    c->SetInputString("");
                    c->SetInputType(TSourceType::SourceString);
                } else {
                    c->SetInputType(TSourceType::SourceByteArray);
                    c->SetInputLength(0);
                }
                encipher ? c->EncipherInput(false) : c->DecipherInput(false);
                EXPECT_EQ(out, Bytes(16, 0xEE)) << Name(mode);
                EXPECT_EQ(c->InputLength(), 0);
            }
}

TEST(Component, CfbKeepsOddLengths) {
    std::mt19937 rng(6);
    Bytes plain = RandomBytes(rng, 13);
    auto enc = Make(TCipherMode::CFBMode);
    Bytes cipher = RunBytes(*enc, true, plain);
    EXPECT_EQ(cipher.size(), 13u);
    EXPECT_EQ(enc->InputLength(), 13);
    auto dec = Make(TCipherMode::CFBMode);
    EXPECT_EQ(RunBytes(*dec, false, cipher), plain);
}

TEST(Component, GeneratedVectorIsPrintableAndKept) {
    for (auto mode : {TCipherMode::CBCMode, TCipherMode::CFBMode}) {
        auto c = Make(mode, "k", "");
        Bytes plain(24, 1);
        Bytes first = RunBytes(*c, true, plain);
        std::string iv = c->IVector();
        ASSERT_EQ(iv.size(), 8u);
        for (char ch : iv)
            EXPECT_TRUE(ch >= '!' && ch <= '}') << int(ch);
        // A second fresh call starts again from the same vector.
        EXPECT_EQ(RunBytes(*c, true, plain), first);
        EXPECT_EQ(c->IVector(), iv);
        // and a decipherer given that vector reads the data back
        auto d = Make(mode, "k", iv);
        EXPECT_EQ(RunBytes(*d, false, first), plain);
    }
}

TEST(Component, EcbLeavesVectorAlone) {
    auto c = Make(TCipherMode::ECBMode, "k", "");
    RunBytes(*c, true, Bytes(8, 1));
    EXPECT_TRUE(c->IVector().empty());
    EXPECT_EQ(c->FeedbackBlock(), nullptr);
}

TEST(Component, DecipheringTextDoesNothing) {
    auto c = Make(TCipherMode::ECBMode);
    Bytes out(16, 0xEE);
    c->SetInputString("some text");
    c->SetInputType(TSourceType::SourceString);
    c->OutputBuffer = out.data();
    c->DecipherInput(false);
    EXPECT_EQ(out, Bytes(16, 0xEE));
}

TEST(Component, RefusedPreconditionsTouchNoMemory) {
    struct Case {
        const char* what;
        std::function<void(TIDEA&, Bytes& in, Bytes& out)> setup;
        bool encipher, resume;
    };
    const Case cases[] = {
        {"byte array over 4096",
         [](TIDEA& c, Bytes& in, Bytes& out) {
             c.SetInputType(TSourceType::SourceByteArray);
             c.SetInputLength(4097);
             c.InputBuffer = in.data();
             c.OutputBuffer = out.data();
         },
         true, false},
        {"text over 4096",
         [](TIDEA& c, Bytes&, Bytes& out) {
             static const std::string tooLong(4097, 'x');
             c.SetInputString(tooLong);
             c.SetInputType(TSourceType::SourceString);
             c.OutputBuffer = out.data();
         },
         true, false},
        {"short vector in CBC",
         [](TIDEA& c, Bytes& in, Bytes& out) {
             c.SetCipherMode(TCipherMode::CBCMode);
             c.SetIVector("1234567");
             c.SetInputType(TSourceType::SourceByteArray);
             c.SetInputLength(8);
             c.InputBuffer = in.data();
             c.OutputBuffer = out.data();
         },
         true, false},
        {"short vector in CFB deciphering",
         [](TIDEA& c, Bytes& in, Bytes& out) {
             c.SetCipherMode(TCipherMode::CFBMode);
             c.SetIVector("1");
             c.SetInputType(TSourceType::SourceByteArray);
             c.SetInputLength(8);
             c.InputBuffer = in.data();
             c.OutputBuffer = out.data();
         },
         false, false},
        {"resume before any set-up",
         [](TIDEA& c, Bytes& in, Bytes& out) {
             c.SetInputType(TSourceType::SourceByteArray);
             c.SetInputLength(8);
             c.InputBuffer = in.data();
             c.OutputBuffer = out.data();
         },
         true, true},
        {"resume in CBC after an ECB set-up",
         [](TIDEA& c, Bytes& in, Bytes& out) {
             RunBytes(c, true, Bytes(8, 3));
             c.SetCipherMode(TCipherMode::CBCMode);
             c.SetInputType(TSourceType::SourceByteArray);
             c.SetInputLength(8);
             c.InputBuffer = in.data();
             c.OutputBuffer = out.data();
         },
         true, true},
        {"no output buffer",
         [](TIDEA& c, Bytes& in, Bytes&) {
             c.SetInputType(TSourceType::SourceByteArray);
             c.SetInputLength(8);
             c.InputBuffer = in.data();
             c.OutputBuffer = nullptr;
         },
         false, false},
        {"no input buffer",
         [](TIDEA& c, Bytes&, Bytes& out) {
             c.SetInputType(TSourceType::SourceByteArray);
             c.SetInputLength(8);
             c.InputBuffer = nullptr;
             c.OutputBuffer = out.data();
         },
         true, false},
    };
    for (const auto& k : cases) {
        TIDEA c;
        c.SetKey("key");
        Bytes in(5000, 1), out(5000, 0xEE);
        k.setup(c, in, out);
        if (k.encipher)
            EXPECT_THROW(c.EncipherInput(k.resume), ECryptError) << k.what;
        else
            EXPECT_THROW(c.DecipherInput(k.resume), ECryptError) << k.what;
        EXPECT_EQ(out, Bytes(5000, 0xEE)) << k.what;
    }
}

TEST(Component, ExactlyFourKilobytesOfText) {
    auto c = Make(TCipherMode::ECBMode);
    Bytes out(4096 + 8, 0xEE);
    c->SetInputString(std::string(4096, 'q'));
    c->SetInputType(TSourceType::SourceString);
    c->OutputBuffer = out.data();
    c->EncipherInput(false);
    EXPECT_EQ(c->InputLength(), 4096);
    EXPECT_EQ(Bytes(out.begin() + 4096, out.end()), Bytes(8, 0xEE));
}

} // namespace
} // namespace velkor::test

namespace velkor::test {
namespace {

// An IDEA that uses the component's own block-by-block loops for every mode, through
// the single-block primitive, instead of the cipher's multi-block and chain hooks.
class BlockwiseIDEA : public TIDEA {
  protected:
    void EncipherBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) override {
        TCrypto::EncipherBlocks(in, out, count);
    }
    void DecipherBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) override {
        TCrypto::DecipherBlocks(in, out, count);
    }
    void EncipherChainCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                          std::uint8_t* feedback) override {
        TCrypto::EncipherChainCBC(in, out, count, feedback);
    }
    void EncipherChainCFB(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                          std::uint8_t* feedback) override {
        TCrypto::EncipherChainCFB(in, out, count, feedback);
    }
};

TEST(Component, CipherHooksEqualTheBlockwiseLoops) {
    std::mt19937 rng(61);
    for (auto mode : AllModes)
        for (bool encipher : {true, false})
            for (std::size_t n : {0u, 1u, 8u, 13u, 64u, 1001u, 4096u}) {
                Bytes data = RandomBytes(rng, n);
                auto fast = Make(mode);
                BlockwiseIDEA slow;
                slow.SetKey("secret key");
                slow.SetCipherMode(mode);
                slow.SetIVector("IV:12345");
                // Two calls, the second resumed: the chaining state must carry the same way.
                for (bool resume : {false, true}) {
                    ASSERT_EQ(RunBytes(*fast, encipher, data, resume),
                              RunBytes(slow, encipher, data, resume))
                        << Name(mode) << (encipher ? " encipher" : " decipher") << " n=" << n;
                    if (mode != TCipherMode::ECBMode) {
                        ASSERT_EQ(Bytes(fast->FeedbackBlock(), fast->FeedbackBlock() + 8),
                                  Bytes(slow.FeedbackBlock(), slow.FeedbackBlock() + 8));
                    }
                }
            }
}

} // namespace
} // namespace velkor::test
