// Agreement with libgcrypt's IDEA, an independent implementation, on random keys and data.
#include "tests/crypto/crypto_test_util.h"

#include <gcrypt.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace velkor::test {
namespace {

// The key block a key text stands for: cut at the first zero byte, zero-filled to 16.
Bytes KeyBlockOf(const std::string& key) {
    Bytes block(16, 0);
    for (std::size_t i = 0; i < 16 && i < key.size() && key[i] != '\0'; ++i)
        block[i] = static_cast<std::uint8_t>(key[i]);
    return block;
}

class Gcrypt {
  public:
    Gcrypt(int mode, const Bytes& key, const std::string& iv) {
        EXPECT_EQ(gcry_cipher_open(&h_, GCRY_CIPHER_IDEA, mode, 0), 0u);
        EXPECT_EQ(gcry_cipher_setkey(h_, key.data(), key.size()), 0u);
        if (mode != GCRY_CIPHER_MODE_ECB) {
            EXPECT_EQ(gcry_cipher_setiv(h_, iv.data(), 8), 0u);
        }
    }
    ~Gcrypt() { gcry_cipher_close(h_); }
    Gcrypt(const Gcrypt&) = delete;
    Gcrypt& operator=(const Gcrypt&) = delete;

    Bytes Run(bool encipher, Bytes data) {
        gcry_error_t err = encipher ? gcry_cipher_encrypt(h_, data.data(), data.size(), nullptr, 0)
                                    : gcry_cipher_decrypt(h_, data.data(), data.size(), nullptr, 0);
        EXPECT_EQ(err, 0u);
        return data;
    }

  private:
    gcry_cipher_hd_t h_ = nullptr;
};

struct ModePair {
    TCipherMode ours;
    int theirs;
    const char* name;
};
const ModePair Modes[] = {{TCipherMode::ECBMode, GCRY_CIPHER_MODE_ECB, "ECB"},
                          {TCipherMode::CBCMode, GCRY_CIPHER_MODE_CBC, "CBC"},
                          {TCipherMode::CFBMode, GCRY_CIPHER_MODE_CFB, "CFB"}};

std::string RandomKeyText(std::mt19937& rng) {
    std::string key(rng() % 24, '\0');
    for (auto& ch : key)
        ch = static_cast<char>(rng() % 4 == 0 ? rng() % 256 : 'a' + rng() % 26);
    return key; // may hold zero bytes: those cut the key block
}

class Oracle : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_NE(gcry_check_version(nullptr), nullptr); }
};

TEST_F(Oracle, AllModesBothDirectionsOneToSevenHundredBlocks) {
    std::mt19937 rng(31);
    for (const auto& m : Modes)
        for (int round = 0; round < 40; ++round) {
            std::string key = RandomKeyText(rng);
            std::string iv(8, '\0');
            for (auto& ch : iv)
                ch = static_cast<char>(33 + rng() % 93);
            std::size_t blocks = 1 + rng() % 700;
            // CFB also gets a short final piece.
            std::size_t n = blocks * 8 - (m.ours == TCipherMode::CFBMode ? rng() % 8 : 0);
            Bytes data = RandomBytes(rng, n);
            SCOPED_TRACE(std::string(m.name) + " n=" + std::to_string(n));

            TIDEA enc;
            enc.SetKey(key);
            enc.SetCipherMode(m.ours);
            enc.SetIVector(iv);
            Gcrypt genc(m.theirs, KeyBlockOf(key), iv);
            ASSERT_EQ(RunChunked(enc, true, data), genc.Run(true, data));

            TIDEA dec;
            dec.SetKey(key);
            dec.SetCipherMode(m.ours);
            dec.SetIVector(iv);
            Gcrypt gdec(m.theirs, KeyBlockOf(key), iv);
            ASSERT_EQ(RunChunked(dec, false, data), gdec.Run(false, data));
        }
}

// A stream cut into pieces, one call each, the first set up afresh and the rest resumed:
// out of place through the byte-array source, or in place through the file source,
// which works in its own data buffer.
enum class Via { ByteArray, File };

Bytes RunPieces(TIDEA& c, bool encipher, const Bytes& data, const std::vector<std::size_t>& pieces,
                Via via, const std::filesystem::path& dir) {
    Bytes out;
    std::size_t o = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        Bytes piece(data.begin() + long(o), data.begin() + long(o + pieces[i]));
        o += pieces[i];
        Bytes r;
        if (via == Via::ByteArray) {
            r = RunBytes(c, encipher, piece, i != 0);
        } else {
            const auto in = (dir / "piece").string(), result = (dir / "result").string();
            std::ofstream(in, std::ios::binary)
                .write(reinterpret_cast<const char*>(piece.data()), long(piece.size()));
            c.SetInputFilePath(in);
            c.SetOutputFilePath(result);
            c.SetInputType(TSourceType::SourceFile);
            encipher ? c.EncipherInput(i != 0) : c.DecipherInput(i != 0);
            std::ifstream f(result, std::ios::binary);
            r.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        }
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

// libgcrypt's CFB for each piece, from the vector a resumed CFB call starts with: the last
// 8 bytes of the initial vector followed by all cipher bytes so far. After whole blocks
// that is the last cipher block, so block-aligned pieces make one CFB stream; after a
// short piece the register has moved on by that piece's bytes alone.
Bytes GcryptCfbPieces(const Bytes& key, const std::string& iv, bool encipher, const Bytes& data,
                      const std::vector<std::size_t>& pieces) {
    Bytes cipherSoFar(iv.begin(), iv.end()), out;
    std::size_t o = 0;
    for (std::size_t n : pieces) {
        Gcrypt g(GCRY_CIPHER_MODE_CFB, key, std::string(cipherSoFar.end() - 8, cipherSoFar.end()));
        Bytes piece(data.begin() + long(o), data.begin() + long(o + n));
        o += n;
        Bytes r = g.Run(encipher, piece);
        const Bytes& cipher = encipher ? r : piece;
        cipherSoFar.insert(cipherSoFar.end(), cipher.begin(), cipher.end());
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

TEST_F(Oracle, ResumeChainsAtAnySplit) {
    const auto dir =
        std::filesystem::temp_directory_path() /
        ("velkor-oracle-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(dir);
    struct Case {
        ModePair mode;
        bool odd; // pieces of any byte count (CFB keeps them); else whole blocks
        Via via;
    } cases[] = {
        {Modes[0], false, Via::ByteArray}, {Modes[1], false, Via::ByteArray},
        {Modes[2], false, Via::ByteArray}, {Modes[0], false, Via::File},
        {Modes[1], false, Via::File},      {Modes[2], false, Via::File},
        {Modes[2], true, Via::ByteArray},  {Modes[2], true, Via::File},
    };
    const Bytes key = KeyBlockOf("resume key");
    std::mt19937 rng(32);
    for (const auto& k : cases)
        for (bool encipher : {true, false}) {
            const std::size_t total = k.via == Via::File ? 30000 : 40000;
            const std::size_t largest = k.via == Via::File ? 9000 : 4096; // a file may span chunks
            // Short pieces first: each moves the register by fewer bytes than a block.
            std::vector<std::size_t> pieces =
                k.odd ? std::vector<std::size_t>{1, 7, 9, 3, 8, 13} : std::vector<std::size_t>{};
            std::size_t sum = 0;
            for (std::size_t n : pieces)
                sum += n;
            while (sum < total) {
                std::size_t n = 1 + rng() % largest;
                if (!k.odd) n = (n + 7) / 8 * 8;
                n = std::min(n, total - sum);
                pieces.push_back(n);
                sum += n;
            }
            Bytes data = RandomBytes(rng, total);
            TIDEA c;
            c.SetKey("resume key");
            c.SetCipherMode(k.mode.ours);
            c.SetIVector("01234567");
            Bytes want = k.mode.ours == TCipherMode::CFBMode
                             ? GcryptCfbPieces(key, "01234567", encipher, data, pieces)
                             : Gcrypt(k.mode.theirs, key, "01234567").Run(encipher, data);
            EXPECT_EQ(RunPieces(c, encipher, data, pieces, k.via, dir), want)
                << k.mode.name << (k.odd ? " odd pieces" : " whole blocks")
                << (k.via == Via::File ? " in place (files)" : " out of place (byte arrays)")
                << (encipher ? " enciphering" : " deciphering");
        }
    std::filesystem::remove_all(dir);
}

TEST_F(Oracle, RawKeysWithZeroBytes) {
    std::mt19937 rng(33);
    for (int i = 0; i < 300; ++i) {
        Bytes key = RandomBytes(rng, 16);
        key[rng() % 16] = 0;
        Bytes data = RandomBytes(rng, 64);
        RawKeyIDEA ours(key);
        Gcrypt g(GCRY_CIPHER_MODE_ECB, key, "");
        ASSERT_EQ(RunBytes(ours, true, data), g.Run(true, data));
    }
}

// Each instruction-set level forced in turn: every length from 0 to 4096 bytes at
// unaligned buffer offsets, in the modes whose blocks run through the vector code.
class OracleLevel : public ::testing::TestWithParam<IdeaLevel> {
  protected:
    static void SetUpTestSuite() { ASSERT_NE(gcry_check_version(nullptr), nullptr); }
    void SetUp() override {
        if (!IdeaLevelSupported(GetParam()))
            GTEST_SKIP() << "this processor lacks " << IdeaLevelName(GetParam())
                         << "; that level is not run here";
    }
};

TEST_P(OracleLevel, EveryLengthUpToAChunk) {
    const ModePair ecb = Modes[0], cbc = Modes[1], cfb = Modes[2];
    const std::pair<ModePair, bool> cases[] = {
        {ecb, true}, {ecb, false}, {cbc, false}, {cfb, false}};
    std::mt19937 rng(34);
    for (std::size_t n = 0; n <= 4096; ++n) {
        std::string key = RandomKeyText(rng);
        Bytes data = EdgyBytes(rng, n);
        std::size_t inOffset = rng() % 64, outOffset = rng() % 64;
        for (const auto& [m, encipher] : cases) {
            TIDEA ours;
            ours.SetLevel(GetParam());
            ours.SetKey(key);
            ours.SetCipherMode(m.ours);
            ours.SetIVector("(IV--IV)");
            OffsetRun got = RunBytesAt(ours, encipher, data, inOffset, outOffset);
            Bytes padded = data;
            if (m.ours != TCipherMode::CFBMode) padded.resize((n + 7) / 8 * 8, 0);
            Gcrypt theirs(m.theirs, KeyBlockOf(key), "(IV--IV)");
            ASSERT_FALSE(got.wrotePast) << m.name << " n=" << n;
            ASSERT_EQ(got.out, theirs.Run(encipher, padded))
                << m.name << (encipher ? " encipher" : " decipher") << " n=" << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Idea, OracleLevel, ::testing::ValuesIn(AllIdeaLevels),
                         [](const auto& info) { return std::string(IdeaLevelName(info.param)); });

} // namespace
} // namespace velkor::test
