// velkor-crypt: the cipher component from the command line, for scripts and bots.
#include "Version.h"
#include "chat/Linecodec.h"
#include "crypto/FileIo.h"
#include "crypto/Ideaunit.h"
#ifndef _WIN32
#include "bridge/Cp1252.h"
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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
    "usage: velkor-crypt encipher|decipher KEY [--mode ecb|cbc|cfb] [--iv TEXT] [--bytes] "
    "INPUT OUTPUT\n"
    "       velkor-crypt encode-line KEY [--bytes] [LINE]\n"
    "       velkor-crypt decode-line KEY [--raw] [--bytes] [LINE]\n"
    "       velkor-crypt --version\n"
    "KEY: --key-file PATH (its first line), --key TEXT, or the environment variable VELKOR_KEY";

constexpr const char* Help =
    "\n"
    "encipher, decipher: the file INPUT into the file OUTPUT, raw cipher bytes without a\n"
    "  header (INPUT may be a pipe; OUTPUT must not be INPUT; \"-\" is standard input or\n"
    "  output). The key text counts up to 16 bytes. ECB (the default) and CBC fill the\n"
    "  input with zero bytes to a multiple of 8. Enciphering CBC or CFB without --iv\n"
    "  prints \"IV: <vector>\" on standard error before it writes; deciphering needs that\n"
    "  vector of 8 characters. ECB takes no --iv.\n"
    "encode-line, decode-line: each line of standard input (or the one LINE) to one wire\n"
    "  text, or back. A refused line gives an empty output line, a message on standard\n"
    "  error and exit status 1. encode-line warns when a wire text is longer than the 256\n"
    "  characters velkor sends. decode-line writes a deciphered CR, LF or backslash as\n"
    "  \\r, \\n or \\\\, so that every wire text gives one output line; --raw writes the\n"
    "  deciphered line as it is.\n"
#ifndef _WIN32
    "Keys, IVs and lines are UTF-8 here and go into the cipher in the Windows code page\n"
    "  1252, as velkor.exe users type them; --bytes ciphers their bytes as they are.\n"
#endif
    "The key: --key-file or VELKOR_KEY keep it out of the process list; --key shows it there.\n"
    "Exit status: 0 done, 1 an I/O error or a refused line, 2 bad arguments.\n";

// Longer lines are read to their end but not kept.
constexpr std::size_t MaxInputLine = std::size_t{1} << 20;
// velkor refuses to send a longer wire text.
constexpr std::size_t MaxWireText = 256;
// Only the first 16 bytes of a key count; a longer first line is not a key file.
constexpr std::size_t MaxKeyFileLine = 4096;
// The IVs velkor-crypt prints and takes: one IDEA block.
constexpr std::size_t IVectorSize = 8;

#ifdef _WIN32
// The command line and the streams are in the ANSI code page already.
constexpr bool ConvertsCodePage = false;
#else
constexpr bool ConvertsCodePage = true;
#endif

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

// ---------------------------------------------------------------- arguments

enum class Command { Encipher, Decipher, EncodeLine, DecodeLine };

struct Arguments {
    std::optional<std::string_view> key, keyFile, mode, iv;
    bool raw = false, bytes = false;
    std::vector<std::string_view> operands;
};

// The options the command takes, anywhere among its operands until "--"; the error, or
// the empty text.
std::string Parse(Command command, const std::vector<std::string_view>& args, Arguments& out) {
    bool files = command == Command::Encipher || command == Command::Decipher;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        if (!options || a.size() < 2 || a.substr(0, 2) != "--") {
            out.operands.push_back(a);
            continue;
        }
        std::optional<std::string_view>* value = a == "--key"             ? &out.key
                                                 : a == "--key-file"      ? &out.keyFile
                                                 : files && a == "--mode" ? &out.mode
                                                 : files && a == "--iv"   ? &out.iv
                                                                          : nullptr;
        if (a == "--") {
            options = false;
        } else if (value) {
            if (i + 1 >= args.size()) return std::string(a) + " needs a value";
            *value = args[++i];
        } else if (a == "--bytes") {
            out.bytes = true;
        } else if (a == "--raw" && command == Command::DecodeLine) {
            out.raw = true;
        } else {
            return "unknown option '" + std::string(a) + "'";
        }
    }
    return {};
}

// ---------------------------------------------------------------- code page

// Text as the cipher takes it: on POSIX UTF-8 becomes code page 1252, the page velkor.exe
// users type in and the WeeChat plugin writes; with convert false the bytes as they are.
// False, with why ("holds ..." or "is not valid UTF-8"), when the page cannot write it.
bool ToCipherText(std::string_view text, [[maybe_unused]] bool convert, std::string& bytes,
                  [[maybe_unused]] std::string& why) {
#ifndef _WIN32
    if (convert) {
        velkor::TCp1252Text page = velkor::Utf8ToCp1252(text);
        if (page.Error == velkor::TCp1252Error::InvalidUtf8) {
            why = "is not valid UTF-8";
        } else if (page.Error == velkor::TCp1252Error::NoForm) {
            why = "holds \"" + velkor::Utf8Of(page.Character) + "\" (" +
                  velkor::CodePointName(page.Character) +
                  "), which the Windows code page 1252 cannot write";
        } else {
            bytes.assign(page.Bytes);
        }
        velkor::WipeBytes(page.Bytes.data(), page.Bytes.size());
        return why.empty();
    }
#endif
    bytes.assign(text);
    return true;
}

// One deciphered byte as written: code page 1252 as UTF-8 when converting, a byte without a
// character there (only a wrong key gives one) as \xHH, or as it is with raw.
void AppendShown(std::string& out, unsigned char b, [[maybe_unused]] bool convert,
                 [[maybe_unused]] bool raw) {
#ifndef _WIN32
    if (convert && b >= 0x80) {
        if (auto c = velkor::Cp1252Character(b)) {
            out += velkor::Utf8Of(*c);
        } else if (raw) {
            out += static_cast<char>(b);
        } else {
            static constexpr char Hex[] = "0123456789ABCDEF";
            out += {'\\', 'x', Hex[b >> 4], Hex[b & 15]};
        }
        return;
    }
#endif
    out += static_cast<char>(b);
}

// ---------------------------------------------------------------- the key

// Key text that is wiped when it goes.
struct Secret {
    Secret() { text.reserve(MaxKeyFileLine + 1); } // no reallocation leaves a copy behind
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret() { velkor::WipeBytes(text.data(), text.size()); }
    std::string text;
};

// The first line of a key file, without its line end; 0, or the exit status after the
// message.
int ReadKeyFile(const std::string& path, std::string& into) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::cerr << "velkor-crypt: " << path << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    std::setvbuf(f, nullptr, _IONBF, 0); // no buffer of the C library keeps the key
    int c;
    errno = 0;
    while ((c = std::getc(f)) != EOF && c != '\n' && into.size() <= MaxKeyFileLine)
        into += static_cast<char>(c);
    int error = std::ferror(f) ? errno : 0;
    std::fclose(f);
    if (error != 0) {
        std::cerr << "velkor-crypt: " << path << ": " << std::strerror(error) << "\n";
        return 1;
    }
    if (into.size() > MaxKeyFileLine)
        return UsageError("the first line of " + path + " is longer than 4096 bytes: not a key");
    if (!into.empty() && into.back() == '\r') into.pop_back();
    return 0;
}

// The key from --key-file, --key or VELKOR_KEY, as the cipher takes it; 0, or the exit
// status after the message. An empty key is refused: an unset shell variable in
// --key "$K" would mean the all-zero key.
int LoadKey(const Arguments& args, bool convert, Secret& key) {
    if (args.key && args.keyFile) return UsageError("give --key or --key-file, not both");
    std::string source;
    Secret given;
    if (args.keyFile) {
        source = "the first line of " + std::string(*args.keyFile);
        if (int status = ReadKeyFile(std::string(*args.keyFile), given.text)) return status;
    } else if (args.key) {
        source = "--key";
        given.text.assign(*args.key);
    } else if (const char* env = std::getenv("VELKOR_KEY")) {
        source = "VELKOR_KEY";
        given.text.assign(env);
    } else {
        return UsageError("a key is required: --key-file PATH, VELKOR_KEY or --key TEXT");
    }
    if (given.text.empty()) return UsageError("the key (" + source + ") is empty");
    std::string why;
    if (!ToCipherText(given.text, convert, key.text, why))
        return UsageError("the key (" + source + ") " + why +
                          "; --bytes takes its bytes as they are");
    return 0;
}

// ---------------------------------------------------------------- files

std::string Named(std::string_view path, const char* stream) {
    return path == velkor::fileio::StandardStream ? stream : std::string(path);
}

struct FileJob {
    bool encipher = true;
    std::string_view key;
    velkor::TCipherMode mode = velkor::TCipherMode::ECBMode;
    std::string iv;
    std::string_view input, output;
};

int RunFile(const FileJob& job) {
    velkor::TIDEA idea;
    idea.SetKey(job.key);
    idea.SetCipherMode(job.mode);
    idea.SetIVector(job.iv);
    idea.SetInputFilePath(job.input);
    idea.SetOutputFilePath(job.output);
    idea.SetInputType(velkor::TSourceType::SourceFile);
    try {
        if (job.encipher)
            idea.EncipherInput(false);
        else
            idea.DecipherInput(false);
    } catch (const velkor::ESameFileError& e) {
        std::cerr << "velkor-crypt: output " << Named(e.Path(), "standard output")
                  << " is the input file " << Named(e.InputPath(), "standard input")
                  << "; nothing was written\n";
        return 1;
    } catch (const velkor::EInOutError& e) {
        std::cerr << "velkor-crypt: " << e.Path() << ": " << e.Reason() << "\n";
        return 1;
    } catch (const velkor::ECryptError& e) {
        std::cerr << "velkor-crypt: " << e.what() << "\n";
        return 2;
    }
    return 0;
}

int FileCommand(bool encipher, const Arguments& args) {
    if (args.operands.size() != 2) return UsageError("INPUT and OUTPUT are required");
    FileJob job;
    job.encipher = encipher;
    if (args.mode) {
        auto m = ParseMode(*args.mode);
        if (!m) return UsageError("unknown mode '" + std::string(*args.mode) + "'");
        job.mode = *m;
    }
    bool convert = ConvertsCodePage && !args.bytes;
    if (args.iv) {
        if (job.mode == velkor::TCipherMode::ECBMode) return UsageError("ECB takes no --iv");
        std::string why;
        if (!ToCipherText(*args.iv, convert, job.iv, why)) return UsageError("--iv " + why);
        if (job.iv.size() != IVectorSize)
            return UsageError("--iv takes 8 characters, as velkor-crypt prints them");
    }
    // A fresh vector would turn the first block into noise without a word.
    if (!encipher && !args.iv && job.mode != velkor::TCipherMode::ECBMode)
        return UsageError("decipher needs the --iv printed when the file was enciphered");
    Secret key;
    if (int status = LoadKey(args, convert, key)) return status;
    job.key = key.text;
    job.input = args.operands[0];
    job.output = args.operands[1];
    if (encipher && job.iv.empty() && job.mode != velkor::TCipherMode::ECBMode) {
        // Before the first byte is written: output cut short by an error, Ctrl-C or a
        // closed pipe is still readable with it.
        job.iv = velkor::RandomIVector(IVectorSize);
        std::cerr << "IV: " + job.iv + "\n" << std::flush; // one write, whole among others
    }
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

// A deciphered line as written: CR, LF and the backslash as two-character escapes unless
// raw (a line deciphered ends at its first zero byte, so none is left to escape).
std::string Shown(const std::string& line, bool convert, bool raw) {
    std::string out;
    out.reserve(line.size());
    for (char c : line) {
        if (!raw && c == '\r')
            out += "\\r";
        else if (!raw && c == '\n')
            out += "\\n";
        else if (!raw && c == '\\')
            out += "\\\\";
        else
            AppendShown(out, static_cast<unsigned char>(c), convert, raw);
    }
    return out;
}

class LineConverter {
  public:
    LineConverter(bool encode, bool raw, bool convert, std::string_view key)
        : encode_(encode), raw_(raw), convert_(convert), key_(key) {}

    // Writes one output line for one input line; false when the line was refused.
    bool Convert(const std::string& line, bool tooLong, std::size_t number) {
        std::string out;
        std::string refusal =
            encode_ ? Encode(line, tooLong, number, out) : Decode(line, tooLong, out);
        out += '\n';
        errno = 0;
        if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() ||
            std::fflush(stdout) != 0)
            throw StreamError{"standard output", errno};
        if (refusal.empty()) return true;
        std::cerr << "velkor-crypt: line " << number << refusal << "\n";
        return false;
    }

  private:
    // The refusal's text, or the empty text.
    std::string Encode(const std::string& line, bool tooLong, std::size_t number,
                       std::string& out) {
        std::string bytes, why;
        if (tooLong) return " refused: longer than 1024 bytes";
        if (!ToCipherText(line, convert_, bytes, why)) return " refused: it " + why;
        if (bytes.size() > velkor::chat::MaxLineBytes) return " refused: longer than 1024 bytes";
        if (bytes.empty()) return {};
        out = velkor::chat::EncryptLine(idea_, bytes, key_);
        if (out.empty()) return " refused: it holds a zero byte";
        if (out.size() > MaxWireText)
            std::cerr << "velkor-crypt: line " << number << ": the wire text has " << out.size()
                      << " characters; velkor sends at most " << MaxWireText << "\n";
        return {};
    }

    std::string Decode(const std::string& line, bool tooLong, std::string& out) {
        if (line.empty()) return {};
        auto bytes = tooLong ? std::nullopt : velkor::chat::UnpackWire(line);
        if (!bytes || bytes->size() > velkor::chat::MaxLineBytes) return ": not a wire text";
        out = Shown(velkor::chat::DecryptLine(idea_, line, key_), convert_, raw_);
        return {};
    }

    bool encode_, raw_, convert_;
    std::string_view key_;
    velkor::TIDEA idea_;
};

int LineCommand(bool encode, const Arguments& args) {
    if (args.operands.size() > 1) return UsageError("at most one LINE");
    bool convert = ConvertsCodePage && !args.bytes;
    Secret key;
    if (int status = LoadKey(args, convert, key)) return status;

#ifdef _WIN32
    // Text mode would turn LF into CR LF on output and drop bytes such as Ctrl-Z on input.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    LineConverter converter(encode, args.raw, convert, key.text);
    try {
        if (!args.operands.empty())
            return converter.Convert(std::string(args.operands[0]), false, 1) ? 0 : 1;
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
    std::string_view name = args.front();
    args.erase(args.begin());
    if (name == "--version") {
        std::cout << "velkor-crypt " VELKOR_VERSION "\n" << std::flush;
        return std::cout ? 0 : 1;
    }
    if (name == "--help" || name == "-h") {
        std::cout << Usage << "\n" << Help << std::flush;
        return std::cout ? 0 : 1;
    }
    Command command;
    if (name == "encipher")
        command = Command::Encipher;
    else if (name == "decipher")
        command = Command::Decipher;
    else if (name == "encode-line")
        command = Command::EncodeLine;
    else if (name == "decode-line")
        command = Command::DecodeLine;
    else
        return UsageError("unknown command '" + std::string(name) + "'");
    Arguments parsed;
    if (std::string error = Parse(command, args, parsed); !error.empty()) return UsageError(error);
    try {
        switch (command) {
        case Command::Encipher:
        case Command::Decipher:
            return FileCommand(command == Command::Encipher, parsed);
        case Command::EncodeLine:
        case Command::DecodeLine:
            return LineCommand(command == Command::EncodeLine, parsed);
        }
    } catch (const std::exception& e) {
        std::cerr << "velkor-crypt: " << e.what() << "\n";
        return 1;
    }
    return 1;
}
