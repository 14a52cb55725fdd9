// velkor-crypt: the cipher component from the command line, for scripts and bots.
#include "Version.h"
#include "app/chat/Linecodec.h"
#include "crypto/Ideaunit.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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
    "       velkor-crypt encode-line --key TEXT [LINE]\n"
    "       velkor-crypt decode-line --key TEXT [--raw] [LINE]\n"
    "       velkor-crypt --version";

constexpr const char* Help =
    "\n"
    "encipher, decipher: the file INPUT into the file OUTPUT, raw cipher bytes without a\n"
    "  header (INPUT may be a pipe; OUTPUT must not be INPUT). The key text counts up to\n"
    "  16 bytes. ECB (the default) and CBC fill the input with zero bytes to a multiple\n"
    "  of 8. Enciphering CBC or CFB without --iv prints \"IV: <vector>\" on standard error;\n"
    "  deciphering needs that vector. ECB takes no --iv.\n"
    "encode-line, decode-line: each line of standard input (or the one LINE) to one wire\n"
    "  text, or back. A refused line gives an empty output line, a message on standard\n"
    "  error and exit status 1. encode-line warns when a wire text is longer than the 256\n"
    "  characters velkor sends. decode-line writes a deciphered CR, LF, zero byte or\n"
    "  backslash as \\r, \\n, \\0 or \\\\, so that every wire text gives one output line;\n"
    "  --raw writes the deciphered bytes as they are.\n"
    "Exit status: 0 done, 1 an I/O error or a refused line, 2 bad arguments.\n";

// Longer lines are read to their end but not kept.
constexpr std::size_t MaxInputLine = std::size_t{1} << 20;
// velkor refuses to send a longer wire text.
constexpr std::size_t MaxWireText = 256;

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

// ---------------------------------------------------------------- files

struct FileJob {
    bool encipher = true;
    std::string_view key; // argv's own text: no copy of the key to wipe
    velkor::TCipherMode mode = velkor::TCipherMode::ECBMode;
    std::optional<std::string_view> iv;
    std::string_view input, output;
};

int RunFile(const FileJob& job) {
    velkor::TIDEA idea;
    idea.SetKey(job.key);
    idea.SetCipherMode(job.mode);
    if (job.iv) idea.SetIVector(*job.iv);
    idea.SetInputFilePath(job.input);
    idea.SetOutputFilePath(job.output);
    idea.SetInputType(velkor::TSourceType::SourceFile);
    int status = 0;
    try {
        if (job.encipher)
            idea.EncipherInput(false);
        else
            idea.DecipherInput(false);
    } catch (const velkor::ESameFileError& e) {
        std::cerr << "velkor-crypt: output " << e.Path() << " is the input file " << e.InputPath()
                  << "; nothing was written\n";
        return 1;
    } catch (const velkor::EInOutError& e) {
        std::cerr << "velkor-crypt: " << e.Path() << ": " << e.what() << "\n";
        status = 1;
    } catch (const velkor::ECryptError& e) {
        std::cerr << "velkor-crypt: " << e.what() << "\n";
        return 2;
    }
    // A failed run prints the vector too: the chunks before the error are in the output.
    if (job.encipher && !job.iv && job.mode != velkor::TCipherMode::ECBMode &&
        !idea.IVector().empty())
        std::cerr << "IV: " << idea.IVector() << "\n";
    return status;
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
            job.iv = *v;
        } else if (a.size() > 1 && a.substr(0, 2) == "--") {
            return UsageError("unknown option '" + std::string(a) + "'");
        } else {
            paths.push_back(a);
        }
    }
    if (!haveKey) return UsageError("--key is required");
    if (paths.size() != 2) return UsageError("INPUT and OUTPUT are required");
    if (job.iv && job.mode == velkor::TCipherMode::ECBMode) return UsageError("ECB takes no --iv");
    // A fresh vector would turn the first block into noise without a word.
    if (!encipher && !job.iv && job.mode != velkor::TCipherMode::ECBMode)
        return UsageError("decipher needs the --iv printed when the file was enciphered");
    job.input = paths[0];
    job.output = paths[1];
    return RunFile(job);
}

// ---------------------------------------------------------------- lines

// An I/O error of a line command: the stream's name and the system's reason.
struct StreamError {
    const char* stream;
    int error;
};

// Reads lines ended by LF or CR LF, without their ending. A line over MaxInputLine bytes
// is read to its end but not kept; it comes back marked too long.
class LineReader {
  public:
    explicit LineReader(std::FILE* in) : in_(in) {}

    // False at the end of the input.
    bool Next(std::string& line, bool& tooLong) {
        line.clear();
        tooLong = false;
        int c;
        errno = 0;
        while ((c = std::getc(in_)) != EOF && c != '\n') {
            if (line.size() < MaxInputLine)
                line += static_cast<char>(c);
            else
                tooLong = true;
        }
        if (c == EOF && std::ferror(in_)) throw StreamError{"standard input", errno};
        if (c == '\n' && !tooLong && !line.empty() && line.back() == '\r') line.pop_back();
        return c != EOF || !line.empty() || tooLong;
    }

  private:
    std::FILE* in_;
};

// CR, LF, the zero byte and the backslash as two-character escapes.
std::string Escaped(const std::string& line) {
    std::string out;
    out.reserve(line.size());
    for (char c : line) {
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\0':
            out += "\\0";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
    return out;
}

class LineConverter {
  public:
    LineConverter(bool encode, bool raw, std::string_view key)
        : encode_(encode), raw_(raw), key_(key) {}

    // Writes one output line for one input line; false when the line was refused.
    bool Convert(const std::string& line, bool tooLong, std::size_t number) {
        std::string out;
        const char* refusal =
            encode_ ? Encode(line, tooLong, number, out) : Decode(line, tooLong, out);
        out += '\n';
        errno = 0;
        if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() ||
            std::fflush(stdout) != 0)
            throw StreamError{"standard output", errno};
        if (!refusal) return true;
        std::cerr << "velkor-crypt: line " << number << refusal << "\n";
        return false;
    }

  private:
    // The refusal's text, or nullptr.
    const char* Encode(const std::string& line, bool tooLong, std::size_t number,
                       std::string& out) {
        if (tooLong || line.size() > velkor::chat::MaxLineBytes)
            return " refused: longer than 1024 bytes";
        if (line.empty()) return nullptr;
        out = velkor::chat::EncryptLine(idea_, line, key_);
        if (out.empty()) return " refused: it holds a zero byte";
        if (out.size() > MaxWireText)
            std::cerr << "velkor-crypt: line " << number << ": the wire text has " << out.size()
                      << " characters; velkor sends at most " << MaxWireText << "\n";
        return nullptr;
    }

    const char* Decode(const std::string& line, bool tooLong, std::string& out) {
        if (line.empty()) return nullptr;
        auto bytes = tooLong ? std::nullopt : velkor::chat::UnpackWire(line);
        if (!bytes || bytes->size() > velkor::chat::MaxLineBytes) return ": not a wire text";
        out = velkor::chat::DecryptLine(idea_, line, key_);
        if (!raw_) out = Escaped(out);
        return nullptr;
    }

    bool encode_, raw_;
    std::string_view key_;
    velkor::TIDEA idea_;
};

int LineCommand(bool encode, const std::vector<std::string_view>& args) {
    std::optional<std::string_view> key;
    std::vector<std::string_view> lines;
    bool options = true, raw = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        if (options && a == "--key") {
            if (i + 1 >= args.size()) return UsageError("--key needs a value");
            key = args[++i];
        } else if (options && a == "--raw" && !encode) {
            raw = true;
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
    LineConverter converter(encode, raw, *key);
    try {
        if (!lines.empty()) return converter.Convert(std::string(lines[0]), false, 1) ? 0 : 1;
        bool allConverted = true;
        LineReader reader(stdin);
        std::string line;
        bool tooLong = false;
        for (std::size_t number = 1; reader.Next(line, tooLong); ++number)
            allConverted = converter.Convert(line, tooLong, number) && allConverted;
        return allConverted ? 0 : 1;
    } catch (const StreamError& e) {
        std::cerr << "velkor-crypt: " << e.stream << ": "
                  << (e.error != 0 ? std::strerror(e.error) : "I/O error") << "\n";
        return 1;
    }
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
        if (command == "--version") {
            std::cout << "velkor-crypt " VELKOR_VERSION "\n" << std::flush;
            return std::cout ? 0 : 1;
        }
        if (command == "--help" || command == "-h") {
            std::cout << Usage << "\n" << Help << std::flush;
            return std::cout ? 0 : 1;
        }
    } catch (const std::exception& e) {
        std::cerr << "velkor-crypt: " << e.what() << "\n";
        return 1;
    }
    return UsageError("unknown command '" + std::string(command) + "'");
}
