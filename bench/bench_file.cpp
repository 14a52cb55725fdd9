// velkor-crypt on a 128 MiB file on tmpfs against cp of the same file and against
// libgcrypt's IDEA behind the same read, transform, write loop (1 MiB transfers), one run,
// rounds interleaved; prints the median times and the ratios.
// usage: bench_file [ROUNDS]
#include <fcntl.h>
#include <gcrypt.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr std::size_t FileSize = std::size_t{128} << 20;
constexpr std::size_t Transfer = std::size_t{1} << 20;
const std::string Key = "benchmark key 16"; // 16 bytes: the key block is the key text
const std::string IV = "IVIVIVIV";

struct Mode {
    const char* name;
    int gcrypt;
};
const Mode Modes[] = {
    {"ecb", GCRY_CIPHER_MODE_ECB}, {"cbc", GCRY_CIPHER_MODE_CBC}, {"cfb", GCRY_CIPHER_MODE_CFB}};

// Runs a program to its end; its exit status must be 0.
void Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + args[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args[0] + " failed");
}

// The peer: libgcrypt's IDEA over the file in 1 MiB transfers (a multiple of the block).
void Gcrypt(const Mode& m, bool encipher, const std::string& in, const std::string& out) {
    gcry_cipher_hd_t h;
    gcry_cipher_open(&h, GCRY_CIPHER_IDEA, m.gcrypt, 0);
    gcry_cipher_setkey(h, Key.data(), 16);
    if (m.gcrypt != GCRY_CIPHER_MODE_ECB) gcry_cipher_setiv(h, IV.data(), 8);
    int fi = open(in.c_str(), O_RDONLY), fo = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<unsigned char> buf(Transfer);
    for (;;) {
        ssize_t n = read(fi, buf.data(), buf.size());
        if (n <= 0) break;
        std::size_t len = (static_cast<std::size_t>(n) + 7) / 8 * 8; // this file is whole blocks
        encipher ? gcry_cipher_encrypt(h, buf.data(), len, nullptr, 0)
                 : gcry_cipher_decrypt(h, buf.data(), len, nullptr, 0);
        if (write(fo, buf.data(), len) != static_cast<ssize_t>(len))
            throw std::runtime_error("write failed");
    }
    close(fi);
    close(fo);
    gcry_cipher_close(h);
}

template <typename F> double Millis(F&& f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (!gcry_check_version(nullptr)) return 1;
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);

    fs::path dir = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    dir /= "velkor-bench-file-" + std::to_string(getpid());
    fs::create_directories(dir);
    const std::string in = (dir / "in").string(), out = (dir / "out").string(),
                      copy = (dir / "copy").string();
    {
        std::vector<char> data(FileSize);
        std::mt19937_64 rng(1);
        for (std::size_t i = 0; i < FileSize; i += 8) {
            auto v = rng();
            std::copy_n(reinterpret_cast<const char*>(&v), 8, data.data() + i);
        }
        std::FILE* f = std::fopen(in.c_str(), "wb");
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }

    struct Row {
        const Mode* mode;
        bool encipher;
        std::vector<double> velkor, gcrypt;
    };
    std::vector<Row> rows;
    for (const auto& m : Modes)
        for (bool enc : {true, false})
            rows.push_back({&m, enc, {}, {}});
    std::vector<double> cp;
    // Every output is a new file, as for cp: the old one goes first, untimed.
    auto fresh = [](const std::string& p) { fs::remove(p); };
    try {
        for (int r = 0; r < rounds; ++r) {
            fresh(copy);
            cp.push_back(Millis([&] { Run({"cp", in, copy}); }));
            for (auto& row : rows) {
                std::vector<std::string> args = {
                    VELKOR_CRYPT,  row.encipher ? "encipher" : "decipher", "--key", Key, "--mode",
                    row.mode->name};
                if (row.mode->gcrypt != GCRY_CIPHER_MODE_ECB) args.insert(args.end(), {"--iv", IV});
                args.insert(args.end(), {in, out});
                fresh(out);
                row.velkor.push_back(Millis([&] { Run(args); }));
                fresh(out);
                row.gcrypt.push_back(Millis([&] { Gcrypt(*row.mode, row.encipher, in, out); }));
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_file: %s\n", e.what());
        fs::remove_all(dir);
        return 1;
    }
    fs::remove_all(dir);

    const double cpMs = Median(cp);
    std::printf("128 MiB file in %s, median of %d rounds; cp %.1f ms\n", dir.parent_path().c_str(),
                rounds, cpMs);
    std::printf("%-14s %12s %12s %10s %12s\n", "case", "velkor-crypt", "libgcrypt", "x cp",
                "x libgcrypt");
    for (const auto& row : rows) {
        double v = Median(row.velkor), g = Median(row.gcrypt);
        std::printf("%s-%-10s %9.1f ms %9.1f ms %9.2fx %11.2fx\n", row.mode->name,
                    row.encipher ? "encipher" : "decipher", v, g, v / cpMs, v / g);
    }
    std::printf("(time ratios: below 1.00x velkor-crypt is faster)\n");
    return 0;
}
