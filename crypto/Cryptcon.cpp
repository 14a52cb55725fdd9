// Cryptcon: sources, block modes and file streaming of the cipher component.
#include "crypto/Cryptcon.h"

#include "crypto/FileIo.h"
#include "crypto/SystemApi.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace velkor {

// ---------------------------------------------------------------- errors

std::string EInOutError::MessageFor(int code) {
    switch (code) {
    case FileNotFound:
        return "File not found";
    case InvalidFilename:
        return "Invalid filename";
    case TooManyOpenFiles:
        return "Too many open files";
    case AccessDenied:
        return "File access denied";
    case DiskFull:
        return "Disk full";
    default:
        return "I/O error " + std::to_string(code);
    }
}

EInOutError::EInOutError(int code, std::string path)
    : std::runtime_error(MessageFor(code)), code_(code), path_(std::move(path)) {}

EInOutError::EInOutError(int code, std::string path, int systemError)
    : EInOutError(code, std::move(path)) {
    if (systemError != 0) reason_ = std::strerror(systemError);
}

EInOutError::EInOutError(int code, const std::string& message, std::string path)
    : std::runtime_error(message), code_(code), path_(std::move(path)) {}

ESameFileError::ESameFileError(const std::string& input, const std::string& output)
    : EInOutError(AccessDenied, "the output is the input file", output), input_(input) {}

// ---------------------------------------------------------------- generator

std::string RandomIVector(std::size_t n) {
    // 93 characters: a random byte below 186 (2 x 93) picks one without bias.
    constexpr unsigned Characters = 93, Below = 2 * Characters;
    std::string v;
    std::uint8_t pool[64];
    while (v.size() < n) {
        SystemRandomBytes(pool, sizeof pool);
        for (std::uint8_t b : pool)
            if (b < Below && v.size() < n) v += static_cast<char>(33 + b % Characters);
    }
    return v;
}

// ---------------------------------------------------------------- component

TCrypto::TCrypto(std::uint8_t blockSize) : blockSize_(blockSize) {
    if (blockSize == 0 || blockSize > MaxBlockSize)
        throw ECryptError("block size must be 1 to 65 bytes");
}

TCrypto::~TCrypto() {
    WipeKey();
}

void WipeBytes(void* p, std::size_t n) {
    // volatile so the stores are not dropped as dead before the memory is freed
    volatile auto* b = static_cast<volatile unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = 0;
}

void TCrypto::WipeKey() {
    WipeBytes(key_.data(), key_.size());
}

void TCrypto::SetKey(std::string_view key) {
    WipeKey();
    key_.assign(key);
}

void TCrypto::SetInputFilePath(std::string_view value) {
    inputFilePath_ = value;
}
void TCrypto::SetOutputFilePath(std::string_view value) {
    outputFilePath_ = value;
}
void TCrypto::SetInputString(std::string_view value) {
    inputString_ = value;
}
void TCrypto::SetIVector(std::string_view value) {
    iVector_ = value;
}

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
    if (inputLength_ > 0) std::memmove(data_, InputBuffer, inputLength_);
}

void TCrypto::LoadString() {
    if (inputString_.size() > FileChunkSize)
        throw ECryptError("text input of " + std::to_string(inputString_.size()) +
                          " bytes exceeds the 4096-byte limit");
    inputLength_ = static_cast<std::uint16_t>(inputString_.size());
    std::memcpy(data_, inputString_.data(), inputString_.size());
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
    iVector_ = RandomIVector(blockSize_);
}

void TCrypto::ShiftFeedback(const std::uint8_t* src, std::size_t n) {
    std::uint8_t* f = feedbackBlock_.get();
    std::memmove(f, f + n, blockSize_ - n);
    std::memcpy(f + blockSize_ - n, src, n);
}

void TCrypto::EncipherBuffer() {
    switch (cipherMode_) {
    case TCipherMode::ECBMode:
        EncipherECB();
        break;
    case TCipherMode::CBCMode:
        EncipherCBC();
        break;
    case TCipherMode::CFBMode:
        EncipherCFB();
        break;
    }
}

void TCrypto::DecipherBuffer() {
    switch (cipherMode_) {
    case TCipherMode::ECBMode:
        DecipherECB();
        break;
    case TCipherMode::CBCMode:
        DecipherCBC();
        break;
    case TCipherMode::CFBMode:
        DecipherCFB();
        break;
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
    while (n % blockSize_ != 0)
        data_[n++] = 0;
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
    EncipherBlocks(data_, OutputBuffer, n / blockSize_);
}

void TCrypto::DecipherECB() {
    std::size_t n = ZeroFill();
    RequireOutput();
    DecipherBlocks(data_, OutputBuffer, n / blockSize_);
}

void TCrypto::EncipherCBC() {
    std::size_t n = ZeroFill();
    RequireOutput();
    if (n == 0) return;
    EncipherChainCBC(data_, OutputBuffer, n / blockSize_, feedbackBlock_.get());
}

namespace {

// dst[i] = a[i] ^ b[i]; dst may be a or b. Local pointers, so that the loop vectorises
// (through a member pointer every store could alias the object itself).
void XorBytes(std::uint8_t* dst, const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        dst[i] = a[i] ^ b[i];
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
    std::memcpy(cipher, data_, n);
    DecipherBlocks(cipher, out, n / bs);
    XorBytes(out, out, f, bs);
    XorBytes(out + bs, out + bs, cipher, n - bs);
    std::memcpy(f, cipher + n - bs, bs);
}

void TCrypto::EncipherCFB() {
    RequireOutput();
    const std::size_t n = inputLength_, bs = blockSize_;
    const std::uint8_t* in = data_;
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
    const std::uint8_t* in = data_;
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

void TCrypto::EncipherFile() {
    ProcessFile(true);
}
void TCrypto::DecipherFile() {
    ProcessFile(false);
}

void TCrypto::ProcessFile(bool encipher) {
    using namespace fileio;
    InputFile in(inputFilePath_);
    // Refused before the output is opened: opening it would empty the input.
    if (in.SameAs(outputFilePath_)) throw ESameFileError(inputFilePath_, outputFilePath_);
    // Two transfer buffers: one is read and processed while the other is written. Each
    // chunk is processed in place where it was read; room behind the last one for the
    // zero fill. They outlive the writer, which may still be writing from one.
    constexpr std::size_t Stride = TransferSize + MaxBlockSize;
    auto buffers = std::make_unique_for_overwrite<std::uint8_t[]>(2 * Stride);
    OutputWriter out(outputFilePath_);
    struct DataBack {
        TCrypto& c;
        ~DataBack() { c.data_ = c.dataBuffer_.data(); }
    } back{*this};
    bool last = false;
    for (std::size_t b = 0; !last; b ^= 1) {
        std::uint8_t* transfer = buffers.get() + b * Stride;
        std::size_t got = in.Fill(transfer, TransferSize);
        std::size_t done = 0;
        for (std::size_t o = 0; !last && o < TransferSize; o += FileChunkSize) {
            std::size_t n = std::min(FileChunkSize, got - o);
            last = n != FileChunkSize; // a file of whole chunks ends with an empty one
            data_ = transfer + o;
            inputLength_ = static_cast<std::uint16_t>(n);
            InputBuffer = OutputBuffer = data_;
            if (encipher)
                EncipherBuffer();
            else
                DecipherBuffer();
            done = o + inputLength_;
        }
        out.Write(transfer, done);
    }
    InputBuffer = OutputBuffer = dataBuffer_.data();
    in.Close();
    out.Close();
}

} // namespace velkor
