// Cipher throughput and chat-line cost: the component against libgcrypt's IDEA, one run,
// with the ratio printed per case (above 1.0 means the component is faster).
#include "Ideaunit.h"

#include <benchmark/benchmark.h>
#include <gcrypt.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using velkor::TCipherMode;
using velkor::TIDEA;
using velkor::TSourceType;

constexpr std::size_t FileSize = 64u << 20;
constexpr std::size_t ChunkRun = 1u << 20;
const std::string Key = "benchmark key 16";
const std::string IV = "IVIVIVIV";

std::string FilePath(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::string("velkor-bench-") + name)).string();
}

void MakeInputFile() {
    std::vector<char> data(FileSize);
    std::mt19937 rng(1);
    for (auto& c : data) c = static_cast<char>(rng());
    std::ofstream(FilePath("in"), std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

int GcryptMode(TCipherMode m) {
    return m == TCipherMode::ECBMode   ? GCRY_CIPHER_MODE_ECB
           : m == TCipherMode::CBCMode ? GCRY_CIPHER_MODE_CBC
                                       : GCRY_CIPHER_MODE_CFB;
}

struct Gcrypt {
    explicit Gcrypt(TCipherMode m) {
        gcry_cipher_open(&h, GCRY_CIPHER_IDEA, GcryptMode(m), 0);
        gcry_cipher_setkey(h, Key.data(), 16);
        if (m != TCipherMode::ECBMode) gcry_cipher_setiv(h, IV.data(), 8);
    }
    ~Gcrypt() { gcry_cipher_close(h); }
    void Run(bool enc, unsigned char* p, std::size_t n) {
        enc ? gcry_cipher_encrypt(h, p, n, nullptr, 0) : gcry_cipher_decrypt(h, p, n, nullptr, 0);
    }
    gcry_cipher_hd_t h{};
};

// ---- the component's file source on a 64 MiB file
void ComponentFile(benchmark::State& st, TCipherMode mode, bool enc) {
    TIDEA c;
    c.SetKey(Key);
    c.SetCipherMode(mode);
    c.SetIVector(IV);
    c.SetInputFilePath(FilePath("in"));
    c.SetOutputFilePath(FilePath("out"));
    c.SetInputType(TSourceType::SourceFile);
    for (auto _ : st) enc ? c.EncipherInput(false) : c.DecipherInput(false);
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * FileSize));
}

// ---- libgcrypt with the same read, transform, write loop in 4096-byte chunks
void GcryptFile(benchmark::State& st, TCipherMode mode, bool enc) {
    std::vector<unsigned char> buf(4096);
    for (auto _ : st) {
        Gcrypt g(mode);
        std::FILE* in = std::fopen(FilePath("in").c_str(), "rb");
        std::FILE* out = std::fopen(FilePath("out").c_str(), "wb");
        std::setvbuf(in, nullptr, _IONBF, 0);
        std::setvbuf(out, nullptr, _IONBF, 0);
        for (;;) {
            std::size_t n = std::fread(buf.data(), 1, buf.size(), in);
            if (n == 0) break;
            g.Run(enc, buf.data(), n);
            std::fwrite(buf.data(), 1, n, out);
        }
        std::fclose(in);
        std::fclose(out);
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * FileSize));
}

// ---- 1 MiB through the byte-array source in resumed 4096-byte calls
void ComponentChunks(benchmark::State& st, TCipherMode mode, bool enc) {
    std::vector<unsigned char> data(ChunkRun, 0x5A), out(4096);
    TIDEA c;
    c.SetKey(Key);
    c.SetCipherMode(mode);
    c.SetIVector(IV);
    c.SetInputType(TSourceType::SourceByteArray);
    c.OutputBuffer = out.data();
    for (auto _ : st) {
        for (std::size_t o = 0; o < ChunkRun; o += 4096) {
            c.SetInputLength(4096);
            c.InputBuffer = data.data() + o;
            enc ? c.EncipherInput(o != 0) : c.DecipherInput(o != 0);
        }
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * ChunkRun));
}

void GcryptChunks(benchmark::State& st, TCipherMode mode, bool enc) {
    std::vector<unsigned char> data(ChunkRun, 0x5A), out(4096);
    for (auto _ : st) {
        Gcrypt g(mode);
        for (std::size_t o = 0; o < ChunkRun; o += 4096) {
            std::copy_n(data.data() + o, 4096, out.data());
            g.Run(enc, out.data(), 4096);
        }
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * ChunkRun));
}

// ---- one chat line: set the key, encipher 64 bytes of text
void ComponentLine(benchmark::State& st) {
    TIDEA c;
    std::vector<unsigned char> out(1025);
    std::string line(64, 'm');
    c.SetInputType(TSourceType::SourceString);
    c.OutputBuffer = out.data();
    for (auto _ : st) {
        c.SetKey(Key);
        c.SetInputString(line);
        c.EncipherInput(false);
        benchmark::DoNotOptimize(out.data());
    }
}

void GcryptLine(benchmark::State& st) {
    Gcrypt g(TCipherMode::ECBMode);
    std::vector<unsigned char> buf(64);
    std::string line(64, 'm');
    for (auto _ : st) {
        gcry_cipher_setkey(g.h, Key.data(), 16);
        std::copy(line.begin(), line.end(), buf.begin());
        gcry_cipher_encrypt(g.h, buf.data(), 64, nullptr, 0);
        benchmark::DoNotOptimize(buf.data());
    }
}

const char* ModeName(TCipherMode m) {
    return m == TCipherMode::ECBMode ? "ECB" : m == TCipherMode::CBCMode ? "CBC" : "CFB";
}

// Collects the results so that each velkor/X can be set against gcrypt/X.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs) {
            if (r.run_type != Run::RT_Iteration) continue;
            auto bps = r.counters.find("bytes_per_second");
            double rate = bps != r.counters.end() ? double(bps->second) : 0.0;
            results_[r.benchmark_name()] = {r.GetAdjustedRealTime(), rate};
        }
    }
    void PrintRatios() const {
        std::printf("\n%-28s %14s %14s %9s\n", "case", "velkor", "libgcrypt", "ratio");
        for (const auto& [name, ours] : results_) {
            if (name.rfind("velkor/", 0) != 0) continue;
            std::string rest = name.substr(7);
            auto theirs = results_.find("gcrypt/" + rest);
            if (theirs == results_.end()) continue;
            if (ours.rate > 0)
                std::printf("%-28s %9.1f MB/s %9.1f MB/s %8.2fx\n", rest.c_str(), ours.rate / 1e6,
                            theirs->second.rate / 1e6, ours.rate / theirs->second.rate);
            else
                std::printf("%-28s %11.0f ns %11.0f ns %8.2fx (time ratio, lower is better)\n",
                            rest.c_str(), ours.time, theirs->second.time, ours.time / theirs->second.time);
        }
    }

private:
    struct Result {
        double time, rate;
    };
    std::map<std::string, Result> results_;
};

} // namespace

int main(int argc, char** argv) {
    gcry_check_version(nullptr);
    MakeInputFile();
    for (auto mode : {TCipherMode::ECBMode, TCipherMode::CBCMode, TCipherMode::CFBMode})
        for (bool enc : {true, false}) {
            std::string c = std::string(ModeName(mode)) + (enc ? "-encipher" : "-decipher");
            benchmark::RegisterBenchmark(("velkor/file64M/" + c).c_str(), ComponentFile, mode, enc)
                ->Iterations(3)->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("gcrypt/file64M/" + c).c_str(), GcryptFile, mode, enc)
                ->Iterations(3)->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("velkor/chunks1M/" + c).c_str(), ComponentChunks, mode, enc)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("gcrypt/chunks1M/" + c).c_str(), GcryptChunks, mode, enc)
                ->Unit(benchmark::kMicrosecond);
        }
    benchmark::RegisterBenchmark("velkor/chat-line-64", ComponentLine);
    benchmark::RegisterBenchmark("gcrypt/chat-line-64", GcryptLine);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    std::filesystem::remove(FilePath("in"));
    std::filesystem::remove(FilePath("out"));
    return 0;
}
