// The file source: chunked streaming in place, sizes, agreement with the byte-array
// source, and the I/O errors.
#include "tests/crypto/crypto_test_util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace velkor::test {
namespace {

class FileSource : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ =
            fs::temp_directory_path() /
            ("velkor-crypto-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    static void Write(const std::string& path, const Bytes& b) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    static Bytes Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static void RunFile(TIDEA& c, bool encipher, const std::string& in, const std::string& out) {
        c.SetInputFilePath(in);
        c.SetOutputFilePath(out);
        c.SetInputType(TSourceType::SourceFile);
        encipher ? c.EncipherInput(false) : c.DecipherInput(false);
    }

    fs::path dir_;
};

TEST_F(FileSource, SizesAndRoundTrip) {
    const TCipherMode modes[] = {TCipherMode::ECBMode, TCipherMode::CBCMode, TCipherMode::CFBMode};
    struct Case {
        std::size_t size, blockModeSize;
    } cases[] = {{0, 0},       {1, 8},       {4095, 4096},  {4096, 4096},
                 {4100, 4104}, {8192, 8192}, {10001, 10008}};
    std::mt19937 rng(21);
    for (auto mode : modes)
        for (auto k : cases) {
            SCOPED_TRACE("mode " + std::to_string(int(mode)) + " size " + std::to_string(k.size));
            Bytes plain = RandomBytes(rng, k.size);
            Write(Path("plain"), plain);
            TIDEA enc;
            enc.SetKey("file key");
            enc.SetCipherMode(mode);
            enc.SetIVector("ABCDEFGH");
            RunFile(enc, true, Path("plain"), Path("cipher"));
            Bytes cipher = Read(Path("cipher"));
            std::size_t want = mode == TCipherMode::CFBMode ? k.size : k.blockModeSize;
            ASSERT_EQ(cipher.size(), want);

            TIDEA dec;
            dec.SetKey("file key");
            dec.SetCipherMode(mode);
            dec.SetIVector("ABCDEFGH");
            RunFile(dec, false, Path("cipher"), Path("back"));
            Bytes back = Read(Path("back"));
            Bytes expect = plain;
            expect.resize(want, 0);
            EXPECT_EQ(back, expect);
        }
}

TEST_F(FileSource, FileStreamEqualsResumedByteArrayChunks) {
    // 3 chunks and a tail: the file is one stream, as resumed 4096-byte calls are.
    std::mt19937 rng(22);
    Bytes plain = RandomBytes(rng, 3 * 4096 + 96);
    Write(Path("plain"), plain);
    for (auto mode : {TCipherMode::ECBMode, TCipherMode::CBCMode, TCipherMode::CFBMode}) {
        TIDEA viaFile;
        viaFile.SetKey("k");
        viaFile.SetCipherMode(mode);
        viaFile.SetIVector("12345678");
        RunFile(viaFile, true, Path("plain"), Path("cipher"));
        TIDEA viaBytes;
        viaBytes.SetKey("k");
        viaBytes.SetCipherMode(mode);
        viaBytes.SetIVector("12345678");
        EXPECT_EQ(Read(Path("cipher")), RunChunked(viaBytes, true, plain)) << int(mode);
    }
}

TEST_F(FileSource, IoErrorsNameTheConditionAndTheFile) {
    Write(Path("plain"), Bytes(100, 7));
    fs::create_directories(Path("folder"));
    struct Case {
        const char* what;
        std::string in, out;
        int code;
        const char* message;
        std::string failed; // the path the error names
    } cases[] = {
        {"missing input", Path("absent"), Path("out1"), EInOutError::FileNotFound, "File not found",
         Path("absent")},
        {"output in a missing folder", Path("plain"), Path("no/such/dir/out"), -1, nullptr,
         Path("no/such/dir/out")},
        {"input is a folder", Path("folder"), Path("out2"), EInOutError::AccessDenied,
         "File access denied", Path("folder")},
        {"output is a folder", Path("plain"), Path("folder"), EInOutError::AccessDenied,
         "File access denied", Path("folder")},
    };
    for (const auto& k : cases) {
        TIDEA c;
        c.SetKey("k");
        try {
            RunFile(c, true, k.in, k.out);
            ADD_FAILURE() << k.what << ": no error raised";
        } catch (const EInOutError& e) {
            if (k.code >= 0) {
                EXPECT_EQ(e.Code(), k.code) << k.what;
                EXPECT_STREQ(e.what(), k.message) << k.what;
            }
            EXPECT_STRNE(e.what(), "") << k.what;
            EXPECT_EQ(e.Path(), k.failed) << k.what;
        }
    }
    // A failed input open creates no output file.
    EXPECT_FALSE(fs::exists(Path("out1")));
    EXPECT_FALSE(fs::exists(Path("out2")));
}

// The output is refused, before it is opened, when it is the input file by any name;
// the input keeps its bytes.
TEST_F(FileSource, OutputThatIsTheInputIsRefused) {
    std::mt19937 rng(23);
    Bytes plain = RandomBytes(rng, 5000);
    Write(Path("plain"), plain);
    fs::create_hard_link(Path("plain"), Path("hard"));
    std::error_code noSymlinks;
    fs::create_symlink(Path("plain"), Path("link"), noSymlinks);
    const std::string outputs[] = {Path("plain"), (dir_ / "." / "plain").string(), Path("hard"),
                                   Path("link")};
    for (const auto& out : outputs) {
        if (out == Path("link") && noSymlinks) continue; // Windows without the privilege
        for (bool encipher : {true, false}) {
            TIDEA c;
            c.SetKey("k");
            c.SetCipherMode(TCipherMode::CFBMode);
            c.SetIVector("12345678");
            try {
                RunFile(c, encipher, Path("plain"), out);
                ADD_FAILURE() << out << ": not refused";
            } catch (const ESameFileError& e) {
                EXPECT_EQ(e.Path(), out);
                EXPECT_EQ(e.InputPath(), Path("plain"));
            }
            ASSERT_EQ(Read(Path("plain")), plain) << out;
        }
    }
}

TEST(IoErrorMessages, EveryCodeHasAText) {
    struct Case {
        int code;
        const char* text;
    } cases[] = {{2, "File not found"},
                 {5, "File access denied"},
                 {101, "Disk full"},
                 {1117, "I/O error 1117"},
                 {42, "I/O error 42"}};
    for (auto k : cases)
        EXPECT_EQ(EInOutError(k.code).what(), std::string(k.text));
}

#ifndef _WIN32
TEST_F(FileSource, FullDiskRaisesInsteadOfShortOutput) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Write(Path("plain"), Bytes(9000, 7));
    TIDEA c;
    c.SetKey("k");
    try {
        RunFile(c, true, Path("plain"), "/dev/full");
        ADD_FAILURE() << "a write that stored nothing was reported as success";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Code(), EInOutError::DiskFull);
        EXPECT_STREQ(e.what(), "Disk full");
    }
}
#endif

} // namespace
} // namespace velkor::test
