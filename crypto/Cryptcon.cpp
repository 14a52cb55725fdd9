// Cryptcon: sources, block modes and file streaming of the cipher component.
#include "Cryptcon.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <share.h>
#else
#include <unistd.h>
#endif

namespace velkor {

// ---------------------------------------------------------------- errors

std::string EInOutError::MessageFor(int code) {
    switch (code) {
    case FileNotFound: return "File not found";
    case InvalidFilename: return "Invalid filename";
    case TooManyOpenFiles: return "Too many open files";
    case AccessDenied: return "File access denied";
    case DiskFull: return "Disk full";
    default: return "I/O error " + std::to_string(code);
    }
}

EInOutError::EInOutError(int code, std::string path)
    : std::runtime_error(MessageFor(code)), code_(code), path_(std::move(path)) {}

EInOutError::EInOutError(int code, const std::string& message, std::string path)
    : std::runtime_error(message), code_(code), path_(std::move(path)) {}

ESameFileError::ESameFileError(const std::string& input, const std::string& output)
    : EInOutError(AccessDenied, "the output is the input file", output), input_(input) {}

namespace {

// errno values differ between C runtimes; map the conditions we name, keep the rest.
int IoCodeFromErrno(int e, int fallback) {
    switch (e) {
    case 0: return fallback;
    case ENOENT: return EInOutError::FileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL: return EInOutError::InvalidFilename;
    case EMFILE:
    case ENFILE: return EInOutError::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return EInOutError::AccessDenied;
    case ENOSPC:
    case EFBIG: return EInOutError::DiskFull;
    case EIO: return 1117; // the Windows code for a device I/O error
    default: return e;
    }
}

[[noreturn]] void RaiseIo(int e, int fallback, const std::string& path) {
    throw EInOutError(IoCodeFromErrno(e, fallback), path);
}

// The files move through buffers of this size while the cipher takes them 4096 bytes at
// a time: a system call per chunk costs more than enciphering it.
constexpr std::size_t TransferSize = std::size_t{1} << 20;

#ifdef _WIN32
using IoCount = unsigned int;
int SysRead(int fd, void* p, std::size_t n) { return _read(fd, p, static_cast<IoCount>(n)); }
int SysWrite(int fd, const void* p, std::size_t n) { return _write(fd, p, static_cast<IoCount>(n)); }
int SysClose(int fd) { return _close(fd); }
#else
ssize_t SysRead(int fd, void* p, std::size_t n) { return ::read(fd, p, n); }
ssize_t SysWrite(int fd, const void* p, std::size_t n) { return ::write(fd, p, n); }
int SysClose(int fd) { return ::close(fd); }
#endif

// Opens an existing file for reading, others may only read it meanwhile. Reading only:
// the source never writes its input, so a read-only file or a pipe is a good input.
int OpenInput(const std::string& path) {
    int fd = -1;
#ifdef _WIN32
    if (int e = _sopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYWR, 0); e != 0)
        RaiseIo(e, EInOutError::FileNotFound, path);
#else
    do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) RaiseIo(errno, EInOutError::FileNotFound, path);
    // A folder opens for reading on POSIX; refuse it here, before the output exists.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        RaiseIo(EISDIR, EInOutError::AccessDenied, path);
    }
#endif
    return fd;
}

// Creates the output, or empties an existing one, for writing only.
int OpenOutput(const std::string& path) {
    int fd = -1;
#ifdef _WIN32
    if (int e = _sopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _SH_DENYWR,
                         _S_IREAD | _S_IWRITE);
        e != 0)
        RaiseIo(e, EInOutError::AccessDenied, path);
#else
    do fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) RaiseIo(errno, EInOutError::AccessDenied, path);
#endif
    return fd;
}

// Whether the output path names the input file itself. Pipes and terminals are left
// alone: /dev/stdin and /dev/stdout may well be the same terminal.
bool SameFile(const std::string& input, const std::string& output) {
    namespace fs = std::filesystem;
    std::error_code ec;
    auto status = fs::status(input, ec);
    if (ec || !(fs::is_regular_file(status) || fs::is_block_file(status))) return false;
    // Same device and inode; on Windows the same volume serial number and file index.
    bool same = fs::equivalent(input, output, ec);
    return same && !ec;
}

// A file descriptor with its path, closed when the object goes.
class FileDescriptor {
public:
    FileDescriptor(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) SysClose(fd_);
    }

    const std::string& Path() const { return path_; }
    int Get() const { return fd_; }

    void Close() {
        int fd = fd_;
        fd_ = -1;
        if (fd >= 0 && SysClose(fd) != 0) RaiseIo(errno, EInOutError::DiskFull, path_);
    }

private:
    int fd_;
    std::string path_;
};

// The input file, read a transfer buffer at a time and handed out in chunks.
class InputFile {
public:
    explicit InputFile(const std::string& path)
        : file_(OpenInput(path), path), buffer_(std::make_unique<std::uint8_t[]>(TransferSize)) {}

    // Up to n bytes; fewer only at the end of the file (a pipe may deliver less per read).
    std::size_t Read(std::uint8_t* into, std::size_t n) {
        std::size_t done = 0;
        while (done < n) {
            if (next_ == end_ && !Refill()) break;
            std::size_t k = std::min(n - done, end_ - next_);
            std::memcpy(into + done, buffer_.get() + next_, k);
            next_ += k;
            done += k;
        }
        return done;
    }

    void Close() { file_.Close(); }

private:
    bool Refill() {
        if (atEnd_) return false;
        for (;;) {
            errno = 0;
            auto got = SysRead(file_.Get(), buffer_.get(), TransferSize);
            if (got > 0) {
                next_ = 0;
                end_ = static_cast<std::size_t>(got);
                return true;
            }
            if (got == 0) {
                atEnd_ = true;
                return false;
            }
            if (errno != EINTR) RaiseIo(errno, 100, file_.Path());
        }
    }

    FileDescriptor file_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t next_ = 0, end_ = 0;
    bool atEnd_ = false;
};

// The output file, collected into a transfer buffer. What was handed over before an
// error is written out when the object goes, so the file keeps every processed chunk.
class OutputFile {
public:
    explicit OutputFile(const std::string& path)
        : file_(OpenOutput(path), path), buffer_(std::make_unique<std::uint8_t[]>(TransferSize)) {}
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() {
        try {
            Flush();
        } catch (const EInOutError&) {
            // The error that brought us here is the one reported.
        }
    }

    void Write(const std::uint8_t* from, std::size_t n) {
        while (n > 0) {
            std::size_t k = std::min(n, TransferSize - used_);
            std::memcpy(buffer_.get() + used_, from, k);
            used_ += k;
            from += k;
            n -= k;
            if (used_ == TransferSize) Flush();
        }
    }

    void Close() {
        Flush();
        file_.Close();
    }

private:
    // Writes the buffer out; a write that stores nothing and reports nothing is a full disk.
    void Flush() {
        std::size_t done = 0, n = used_;
        used_ = 0; // dropped even when it fails: a second attempt would fail the same way
        while (done < n) {
            errno = 0;
            auto put = SysWrite(file_.Get(), buffer_.get() + done, n - done);
            if (put > 0) {
                done += static_cast<std::size_t>(put);
                continue;
            }
            if (put < 0 && errno == EINTR) continue;
            RaiseIo(put < 0 ? errno : 0, EInOutError::DiskFull, file_.Path());
        }
    }

    FileDescriptor file_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t used_ = 0;
};

} // namespace

// ---------------------------------------------------------------- generator

void TIVectorRandom::ReseedFromClock() {
    using namespace std::chrono;
    auto now = system_clock::now().time_since_epoch();
    auto msOfDay = duration_cast<milliseconds>(now).count() % (24LL * 60 * 60 * 1000);
    seed_ = static_cast<std::uint32_t>(msOfDay);
}

std::uint32_t TIVectorRandom::Next(std::uint32_t range) {
    seed_ = seed_ * 134775813u + 1u;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(seed_) * range) >> 32);
}

// ---------------------------------------------------------------- component

TCrypto::TCrypto(std::uint8_t blockSize) : blockSize_(blockSize) {
    if (blockSize == 0 || blockSize > MaxBlockSize)
        throw ECryptError("block size must be 1 to 65 bytes");
}

TCrypto::~TCrypto() { WipeKey(); }

void WipeBytes(void* p, std::size_t n) {
    // volatile so the stores are not dropped as dead before the memory is freed
    volatile auto* b = static_cast<volatile unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) b[i] = 0;
}

void TCrypto::WipeKey() { WipeBytes(key_.data(), key_.size()); }

void TCrypto::SetKey(std::string_view key) {
    WipeKey();
    key_.assign(key);
}

void TCrypto::SetInputFilePath(std::string_view value) { inputFilePath_ = value; }
void TCrypto::SetOutputFilePath(std::string_view value) { outputFilePath_ = value; }
void TCrypto::SetInputString(std::string_view value) { inputString_ = value; }
void TCrypto::SetIVector(std::string_view value) { iVector_ = value; }

void TCrypto::EncipherInput(bool Resume) {
    switch (inputType_) {
    case TSourceType::SourceFile:
        PrepareCipher(Resume);
        EncipherFile();
        break;
    case TSourceType::SourceByteArray:
        LoadByteArray(); // validates before anything changes
        PrepareCipher(Resume);
        EncipherBuffer();
        break;
    case TSourceType::SourceString:
        LoadString();
        PrepareCipher(Resume);
        EncipherBuffer();
        break;
    }
}

void TCrypto::DecipherInput(bool Resume) {
    switch (inputType_) {
    case TSourceType::SourceFile:
        PrepareCipher(Resume);
        DecipherFile();
        break;
    case TSourceType::SourceByteArray:
        LoadByteArray();
        PrepareCipher(Resume);
        DecipherBuffer();
        break;
    case TSourceType::SourceString:
        // Text input is for enciphering only.
        PrepareCipher(Resume);
        break;
    }
}

void TCrypto::LoadByteArray() {
    if (inputLength_ > FileChunkSize)
        throw ECryptError("byte-array input of " + std::to_string(inputLength_) +
                          " bytes exceeds the 4096-byte limit");
    if (inputLength_ > 0 && InputBuffer == nullptr)
        throw ECryptError("byte-array input without an InputBuffer");
    if (inputLength_ > 0) std::memmove(dataBuffer_.data(), InputBuffer, inputLength_);
}

void TCrypto::LoadString() {
    if (inputString_.size() > FileChunkSize)
        throw ECryptError("text input of " + std::to_string(inputString_.size()) +
                          " bytes exceeds the 4096-byte limit");
    inputLength_ = static_cast<std::uint16_t>(inputString_.size());
    std::memcpy(dataBuffer_.data(), inputString_.data(), inputString_.size());
}

void TCrypto::PrepareCipher(bool Resume) {
    bool feedback = cipherMode_ == TCipherMode::CBCMode || cipherMode_ == TCipherMode::CFBMode;
    if (Resume) {
        if (!keyReady_) throw ECryptError("resume before the cipher was set up");
        if (feedback && !feedbackBlock_)
            throw ECryptError("resume in CBC or CFB before a feedback block was loaded");
        return;
    }
    SetUpKey();
    keyReady_ = true;
    if (feedback) LoadIVector();
}

void TCrypto::LoadIVector() {
    if (iVector_.empty()) GenerateIVector();
    if (iVector_.size() < blockSize_)
        throw ECryptError("IVector has " + std::to_string(iVector_.size()) +
                          " characters, the block size is " + std::to_string(blockSize_));
    if (!feedbackBlock_) feedbackBlock_ = std::make_unique<std::uint8_t[]>(blockSize_);
    std::memcpy(feedbackBlock_.get(), iVector_.data(), blockSize_);
}

void TCrypto::GenerateIVector() {
    random_.ReseedFromClock();
    iVector_.clear();
    for (std::size_t i = 0; i < blockSize_; ++i)
        iVector_.push_back(static_cast<char>(33 + random_.Next(93)));
}

void TCrypto::ShiftFeedback(const std::uint8_t* src, std::size_t n) {
    std::uint8_t* f = feedbackBlock_.get();
    std::memmove(f, f + n, blockSize_ - n);
    std::memcpy(f + blockSize_ - n, src, n);
}

void TCrypto::EncipherBuffer() {
    switch (cipherMode_) {
    case TCipherMode::ECBMode: EncipherECB(); break;
    case TCipherMode::CBCMode: EncipherCBC(); break;
    case TCipherMode::CFBMode: EncipherCFB(); break;
    }
}

void TCrypto::DecipherBuffer() {
    switch (cipherMode_) {
    case TCipherMode::ECBMode: DecipherECB(); break;
    case TCipherMode::CBCMode: DecipherCBC(); break;
    case TCipherMode::CFBMode: DecipherCFB(); break;
    }
}

void TCrypto::EncipherBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    for (std::size_t b = 0; b < count; ++b, in += blockSize_, out += blockSize_) {
        std::memcpy(BlockBuffer.data(), in, blockSize_);
        EncipherBlock();
        std::memcpy(out, BlockBuffer.data(), blockSize_);
    }
}

void TCrypto::DecipherBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    for (std::size_t b = 0; b < count; ++b, in += blockSize_, out += blockSize_) {
        std::memcpy(BlockBuffer.data(), in, blockSize_);
        DecipherBlock();
        std::memcpy(out, BlockBuffer.data(), blockSize_);
    }
}

std::size_t TCrypto::ZeroFill() {
    std::size_t n = inputLength_;
    while (n % blockSize_ != 0) dataBuffer_[n++] = 0;
    inputLength_ = static_cast<std::uint16_t>(n);
    return n;
}

void TCrypto::RequireOutput() const {
    if (inputLength_ > 0 && OutputBuffer == nullptr)
        throw ECryptError("no OutputBuffer for the result");
}

void TCrypto::EncipherECB() {
    std::size_t n = ZeroFill();
    RequireOutput();
    EncipherBlocks(dataBuffer_.data(), OutputBuffer, n / blockSize_);
}

void TCrypto::DecipherECB() {
    std::size_t n = ZeroFill();
    RequireOutput();
    DecipherBlocks(dataBuffer_.data(), OutputBuffer, n / blockSize_);
}

void TCrypto::EncipherCBC() {
    std::size_t n = ZeroFill();
    RequireOutput();
    if (n == 0) return;
    EncipherChainCBC(dataBuffer_.data(), OutputBuffer, n / blockSize_, feedbackBlock_.get());
}

namespace {

// dst[i] = a[i] ^ b[i]; dst may be a or b. Local pointers, so that the loop vectorises
// (through a member pointer every store could alias the object itself).
void XorBytes(std::uint8_t* dst, const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) dst[i] = a[i] ^ b[i];
}

} // namespace

void TCrypto::EncipherChainCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                               std::uint8_t* feedback) {
    const std::size_t bs = blockSize_;
    std::uint8_t* b = BlockBuffer.data();
    for (std::size_t i = 0; i < count; ++i, in += bs, out += bs) {
        XorBytes(b, in, feedback, bs);
        EncipherBlock();
        std::memcpy(feedback, b, bs);
        std::memcpy(out, b, bs);
    }
}

void TCrypto::EncipherChainCFB(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                               std::uint8_t* feedback) {
    const std::size_t bs = blockSize_;
    std::uint8_t* b = BlockBuffer.data();
    for (std::size_t i = 0; i < count; ++i, in += bs, out += bs) {
        std::memcpy(b, feedback, bs);
        EncipherBlock();
        XorBytes(out, in, b, bs);
        std::memcpy(feedback, out, bs);
    }
}

void TCrypto::DecipherCBC() {
    std::size_t n = ZeroFill();
    RequireOutput();
    if (n == 0) return;
    const std::size_t bs = blockSize_;
    // The cipher blocks are kept aside: the output may be the data buffer itself.
    std::uint8_t* cipher = scratch_.data();
    std::uint8_t* out = OutputBuffer;
    std::uint8_t* f = feedbackBlock_.get();
    std::memcpy(cipher, dataBuffer_.data(), n);
    DecipherBlocks(cipher, out, n / bs);
    XorBytes(out, out, f, bs);
    XorBytes(out + bs, out + bs, cipher, n - bs);
    std::memcpy(f, cipher + n - bs, bs);
}

void TCrypto::EncipherCFB() {
    RequireOutput();
    const std::size_t n = inputLength_, bs = blockSize_;
    const std::uint8_t* in = dataBuffer_.data();
    std::uint8_t* out = OutputBuffer;
    std::uint8_t* f = feedbackBlock_.get();
    std::size_t o = n / bs * bs;
    if (o > 0) EncipherChainCFB(in, out, o / bs, f);
    if (std::size_t k = n - o; k > 0) {
        // Only the last piece is short; it uses the first k bytes of the keystream.
        std::memcpy(BlockBuffer.data(), f, bs);
        EncipherBlock();
        XorBytes(out + o, in + o, BlockBuffer.data(), k);
        ShiftFeedback(out + o, k);
    }
}

void TCrypto::DecipherCFB() {
    RequireOutput();
    const std::size_t n = inputLength_, bs = blockSize_;
    const std::uint8_t* in = dataBuffer_.data();
    std::uint8_t* out = OutputBuffer;
    std::uint8_t* f = feedbackBlock_.get();
    std::uint8_t* stream = scratch_.data();
    std::size_t full = n / bs;
    std::size_t o = full * bs;
    if (full > 0) {
        // Keystream of the whole blocks in one pass: E(F), E(C0), E(C1), ...
        std::memcpy(stream, f, bs);
        std::memcpy(stream + bs, in, o - bs);
        EncipherBlocks(stream, stream, full);
        std::memcpy(f, in + o - bs, bs);
        XorBytes(out, in, stream, o);
    }
    if (std::size_t k = n - o; k > 0) {
        std::memcpy(BlockBuffer.data(), f, bs);
        EncipherBlock();
        ShiftFeedback(in + o, k);
        XorBytes(out + o, in + o, BlockBuffer.data(), k);
    }
}

void TCrypto::EncipherFile() { ProcessFile(true); }
void TCrypto::DecipherFile() { ProcessFile(false); }

void TCrypto::ProcessFile(bool encipher) {
    InputFile in(inputFilePath_);
    // Refused before the output is opened: opening it would empty the input.
    if (SameFile(inputFilePath_, outputFilePath_)) throw ESameFileError(inputFilePath_, outputFilePath_);
    OutputFile out(outputFilePath_);
    for (;;) {
        std::size_t got = in.Read(dataBuffer_.data(), FileChunkSize);
        inputLength_ = static_cast<std::uint16_t>(got);
        InputBuffer = dataBuffer_.data();
        OutputBuffer = dataBuffer_.data();
        if (encipher)
            EncipherBuffer();
        else
            DecipherBuffer();
        out.Write(dataBuffer_.data(), inputLength_);
        if (got != FileChunkSize) break;
    }
    in.Close();
    out.Close();
}

} // namespace velkor
