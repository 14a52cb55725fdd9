// velkor-crypt: the cipher component from the command line, for scripts and bots.
#include "Ideaunit.h"
#include "Linecodec.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr const char* Usage =
    "usage: velkor-crypt encipher|decipher --key TEXT [--mode ecb|cbc|cfb] [--iv TEXT] "
    "INPUT OUTPUT\n"
    "       velkor-crypt encode-line|decode-line --key TEXT [LINE]";

struct FileJob {
    bool encipher = true;
    std::string key;
    velkor::TCipherMode mode = velkor::TCipherMode::ECBMode;
    std::optional<std::string> iv;
    std::string input, output;
};

int UsageError(std::string_view why) {
    std::cerr << "velkor-crypt: " << why << "\n" << Usage << "\n";
    return 2;
}

std::optional<velkor::TCipherMode> ParseMode(std::string_view m) {
    if (m == "ecb") return velkor::TCipherMode::ECBMode;
    if (m == "cbc") return velkor::TCipherMode::CBCMode;
    if (m == "cfb") return velkor::TCipherMode::CFBMode;
    return std::nullopt;
}

int RunFile(const FileJob& job) {
    velkor::TIDEA idea;
    idea.SetKey(job.key);
    idea.SetCipherMode(job.mode);
    if (job.iv) idea.SetIVector(*job.iv);
    idea.SetInputFilePath(job.input);
    idea.SetOutputFilePath(job.output);
    idea.SetInputType(velkor::TSourceType::SourceFile);
    const std::string* failedPath = &job.input;
    try {
        if (job.encipher)
            idea.EncipherInput(false);
        else
            idea.DecipherInput(false);
    } catch (const velkor::EInOutError& e) {
        // The input is opened first; a failure after that concerns the output.
        std::FILE* probe = std::fopen(job.input.c_str(), "rb");
        if (probe) {
            std::fclose(probe);
            failedPath = &job.output;
        }
        std::cerr << "velkor-crypt: " << *failedPath << ": " << e.what() << "\n";
        return 1;
    } catch (const velkor::ECryptError& e) {
        std::cerr << "velkor-crypt: " << e.what() << "\n";
        return 2;
    }
    if (job.encipher && !job.iv && job.mode != velkor::TCipherMode::ECBMode)
        std::cerr << "IV: " << idea.IVector() << "\n";
    return 0;
}

int FileCommand(bool encipher, const std::vector<std::string_view>& args) {
    FileJob job;
    job.encipher = encipher;
    bool haveKey = false;
    std::vector<std::string_view> paths;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (a == "--key") {
            auto v = value();
            if (!v) return UsageError("--key needs a value");
            job.key = *v;
            haveKey = true;
        } else if (a == "--mode") {
            auto v = value();
            if (!v) return UsageError("--mode needs a value");
            auto m = ParseMode(*v);
            if (!m) return UsageError("unknown mode '" + std::string(*v) + "'");
            job.mode = *m;
        } else if (a == "--iv") {
            auto v = value();
            if (!v) return UsageError("--iv needs a value");
            if (v->size() < 8) return UsageError("--iv needs at least 8 characters");
            job.iv = std::string(*v);
        } else if (a.size() > 1 && a.substr(0, 2) == "--") {
            return UsageError("unknown option '" + std::string(a) + "'");
        } else {
            paths.push_back(a);
        }
    }
    if (!haveKey) return UsageError("--key is required");
    if (paths.size() != 2) return UsageError("INPUT and OUTPUT are required");
    job.input = paths[0];
    job.output = paths[1];
    return RunFile(job);
}

// Reads one line ended by LF or CR LF, without its ending; false at the end of input.
bool ReadLine(std::FILE* in, std::string& line) {
    line.clear();
    int c;
    while ((c = std::getc(in)) != EOF && c != '\n')
        line += static_cast<char>(c);
    if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
    return c != EOF || !line.empty();
}

class LineConverter {
public:
    LineConverter(bool encode, std::string key) : encode_(encode), key_(std::move(key)) {}

    // Writes the converted line; false when a line to encode was refused.
    bool Convert(const std::string& line, std::size_t number) {
        std::string out = encode_ ? velkor::EncryptLine(idea_, line, key_)
                                  : velkor::DecryptLine(idea_, line, key_);
        out += '\n';
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout); // a bot on the other end of a pipe waits for each line
        if (!encode_ || line.empty() || out.size() > 1) return true;
        std::cerr << "velkor-crypt: line " << number << " refused: "
                  << (line.size() > velkor::MaxLineBytes ? "longer than 1024 bytes"
                                                         : "it holds a zero byte")
                  << "\n";
        return false;
    }

private:
    bool encode_;
    std::string key_;
    velkor::TIDEA idea_;
};

int LineCommand(bool encode, const std::vector<std::string_view>& args) {
    std::optional<std::string> key;
    std::vector<std::string_view> lines;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        if (options && a == "--key") {
            if (i + 1 >= args.size()) return UsageError("--key needs a value");
            key = std::string(args[++i]);
        } else if (options && a == "--") {
            options = false;
        } else if (options && a.size() > 1 && a.substr(0, 2) == "--") {
            return UsageError("unknown option '" + std::string(a) + "'");
        } else {
            lines.push_back(a);
        }
    }
    if (!key) return UsageError("--key is required");
    if (lines.size() > 1) return UsageError("at most one LINE");

#ifdef _WIN32
    // Text mode would turn LF into CR LF on output and drop bytes such as Ctrl-Z on input.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    LineConverter converter(encode, *key);
    if (!lines.empty()) return converter.Convert(std::string(lines[0]), 1) ? 0 : 1;
    bool allConverted = true;
    std::string line;
    for (std::size_t number = 1; ReadLine(stdin, line); ++number)
        allConverted = converter.Convert(line, number) && allConverted;
    return allConverted ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) return UsageError("no command");
    std::string_view command = args.front();
    args.erase(args.begin());
    try {
        if (command == "encipher") return FileCommand(true, args);
        if (command == "decipher") return FileCommand(false, args);
        if (command == "encode-line") return LineCommand(true, args);
        if (command == "decode-line") return LineCommand(false, args);
        if (command == "--help" || command == "-h") {
            std::cout << Usage << "\n";
            return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << "velkor-crypt: " << e.what() << "\n";
        return 1;
    }
    return UsageError("unknown command '" + std::string(command) + "'");
}
