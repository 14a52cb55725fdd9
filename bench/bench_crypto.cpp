// Cipher throughput and chat-line cost: the component against the IDEA of libgcrypt,
// Botan 2 and Crypto++, one run, with a ratio table at the end (a throughput ratio
// above 1.0, or a time ratio below 1.0, means the component is faster).
#include "crypto/Ideaunit.h"

#include "bench/bench_peers.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using velkor::IdeaLevel;
using velkor::TCipherMode;
using velkor::TIDEA;
using velkor::TSourceType;
using velkor::bench::IV;
using velkor::bench::Key;
using velkor::bench::Peer;
using velkor::bench::PeerKind;

constexpr std::size_t FileSize = 64u << 20;
constexpr std::size_t ChunkRun = 1u << 20;

std::string FilePath(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::string("velkor-bench-") + name))
        .string();
}

void MakeInputFile() {
    std::vector<char> data(FileSize);
    std::mt19937 rng(1);
    for (auto& c : data)
        c = static_cast<char>(rng());
    std::ofstream(FilePath("in"), std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
}

// ---- the component's file source on a 64 MiB file
void ComponentFile(benchmark::State& st, TCipherMode mode, bool enc) {
    TIDEA c;
    c.SetKey(Key);
    c.SetCipherMode(mode);
    c.SetIVector(IV);
    c.SetInputFilePath(FilePath("in"));
    c.SetOutputFilePath(FilePath("out"));
    c.SetInputType(TSourceType::SourceFile);
    for (auto _ : st)
        enc ? c.EncipherInput(false) : c.DecipherInput(false);
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * FileSize));
}

// ---- a peer with the same read, transform, write loop in 4096-byte chunks
void PeerFile(benchmark::State& st, PeerKind kind, TCipherMode mode, bool enc) {
    std::vector<unsigned char> buf(4096);
    for (auto _ : st) {
        auto peer = Peer::Create(kind, mode, enc);
        std::FILE* in = std::fopen(FilePath("in").c_str(), "rb");
        std::FILE* out = std::fopen(FilePath("out").c_str(), "wb");
        std::setvbuf(in, nullptr, _IONBF, 0);
        std::setvbuf(out, nullptr, _IONBF, 0);
        for (;;) {
            std::size_t n = std::fread(buf.data(), 1, buf.size(), in);
            if (n == 0) break;
            peer->Run(buf.data(), n);
            std::fwrite(buf.data(), 1, n, out);
        }
        std::fclose(in);
        std::fclose(out);
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * FileSize));
}

// ---- 1 MiB in memory through the byte-array source, in resumed 4096-byte calls
void ComponentChunks(benchmark::State& st, TCipherMode mode, bool enc, IdeaLevel level) {
    std::vector<unsigned char> data(ChunkRun, 0x5A), out(4096);
    TIDEA c;
    c.SetLevel(level);
    if (c.Level() != level) {
        st.SkipWithError("this processor lacks the level");
        return;
    }
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

void PeerChunks(benchmark::State& st, PeerKind kind, TCipherMode mode, bool enc) {
    std::vector<unsigned char> data(ChunkRun, 0x5A), out(4096);
    for (auto _ : st) {
        auto peer = Peer::Create(kind, mode, enc);
        for (std::size_t o = 0; o < ChunkRun; o += 4096) {
            std::copy_n(data.data() + o, 4096, out.data());
            peer->Run(out.data(), 4096);
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

void PeerLine(benchmark::State& st, PeerKind kind) {
    auto peer = Peer::Create(kind, TCipherMode::ECBMode, true);
    std::vector<unsigned char> buf(64);
    std::string line(64, 'm');
    for (auto _ : st) {
        peer->SetKey();
        std::copy(line.begin(), line.end(), buf.begin());
        peer->Run(buf.data(), buf.size());
        benchmark::DoNotOptimize(buf.data());
    }
}

const char* ModeName(TCipherMode m) {
    return m == TCipherMode::ECBMode ? "ECB" : m == TCipherMode::CBCMode ? "CBC" : "CFB";
}

// Collects the results so that each velkor row can be set against the peers' rows of
// the same case.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            auto bps = r.counters.find("bytes_per_second");
            double rate = bps != r.counters.end() ? double(bps->second) : 0.0;
            std::string name = r.benchmark_name();
            if (auto fixed = name.find("/iterations:"); fixed != std::string::npos)
                name.erase(fixed);
            auto slash = name.find('/');
            results_[name.substr(slash + 1)][name.substr(0, slash)] = {r.GetAdjustedCPUTime(),
                                                                       rate};
        }
    }

    void PrintRatios() const {
        const char* peers[] = {"gcrypt", "botan", "cryptopp"};
        std::printf("\nThroughput in MB/s (10^6 bytes), chat line in ns; ratios are velkor against "
                    "each peer\n");
        std::printf("%-26s %-13s %9s %9s %9s %9s %9s %9s %9s\n", "case", "velkor", "value",
                    "gcrypt", "botan", "cryptopp", "x gcrypt", "x botan", "x c++");
        for (const auto& [name, byLib] : results_)
            for (const auto& [lib, ours] : byLib) {
                if (lib.rfind("velkor", 0) != 0) continue;
                bool rate = ours.rate > 0;
                auto value = [&](const Result& r) { return rate ? r.rate / 1e6 : r.time; };
                std::printf("%-26s %-13s %9.1f", name.c_str(), lib.c_str(), value(ours));
                for (const char* p : peers) {
                    auto it = byLib.find(p);
                    if (it == byLib.end())
                        std::printf(" %9s", "-");
                    else
                        std::printf(" %9.1f", value(it->second));
                }
                for (const char* p : peers) {
                    auto it = byLib.find(p);
                    if (it == byLib.end())
                        std::printf(" %9s", "-");
                    else
                        std::printf(" %8.2fx", rate ? ours.rate / it->second.rate
                                                    : ours.time / it->second.time);
                }
                std::printf("%s\n", rate ? "" : "  (time: lower is better)");
            }
    }

  private:
    struct Result {
        double time, rate;
    };
    std::map<std::string, std::map<std::string, Result>> results_;
};

} // namespace

int main(int argc, char** argv) {
    velkor::bench::InitPeers();
    MakeInputFile();
    const std::pair<PeerKind, const char*> peers[] = {
        {PeerKind::Gcrypt, "gcrypt"}, {PeerKind::Botan, "botan"}, {PeerKind::CryptoPP, "cryptopp"}};
    for (auto mode : {TCipherMode::ECBMode, TCipherMode::CBCMode, TCipherMode::CFBMode})
        for (bool enc : {true, false}) {
            std::string c = std::string(ModeName(mode)) + (enc ? "-encipher" : "-decipher");
            benchmark::RegisterBenchmark(("velkor/file64M/" + c).c_str(), ComponentFile, mode, enc)
                ->Iterations(3)
                ->Unit(benchmark::kMillisecond);
            for (auto [kind, name] : peers)
                benchmark::RegisterBenchmark((std::string(name) + "/file64M/" + c).c_str(),
                                             PeerFile, kind, mode, enc)
                    ->Iterations(3)
                    ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("velkor/chunks1M/" + c).c_str(), ComponentChunks, mode,
                                         enc, velkor::IdeaStartLevel())
                ->Unit(benchmark::kMicrosecond);
            // The narrower vector levels where blocks are independent.
            if (mode == TCipherMode::ECBMode || !enc)
                for (IdeaLevel level : {IdeaLevel::Avx2, IdeaLevel::Sse2})
                    if (level < velkor::IdeaStartLevel())
                        benchmark::RegisterBenchmark(("velkor-" +
                                                      std::string(velkor::IdeaLevelName(level)) +
                                                      "/chunks1M/" + c)
                                                         .c_str(),
                                                     ComponentChunks, mode, enc, level)
                            ->Unit(benchmark::kMicrosecond);
            for (auto [kind, name] : peers)
                benchmark::RegisterBenchmark((std::string(name) + "/chunks1M/" + c).c_str(),
                                             PeerChunks, kind, mode, enc)
                    ->Unit(benchmark::kMicrosecond);
        }
    benchmark::RegisterBenchmark("velkor/chat-line-64", ComponentLine);
    for (auto [kind, name] : peers)
        benchmark::RegisterBenchmark((std::string(name) + "/chat-line-64").c_str(), PeerLine, kind);
    benchmark::Initialize(&argc, argv);
    std::printf("velkor IDEA level: %s\n",
                std::string(velkor::IdeaLevelName(velkor::IdeaStartLevel())).c_str());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    std::filesystem::remove(FilePath("in"));
    std::filesystem::remove(FilePath("out"));
    return 0;
}
