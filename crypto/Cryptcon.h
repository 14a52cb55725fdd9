// Cryptcon: the abstract block-cipher component. It owns the sources (file, byte
// array, text), the block modes (ECB, CBC, CFB), zero fill and the working buffers;
// a derived cipher supplies only its key schedule and its block primitive.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace velkor {

enum class TSourceType : std::uint8_t { SourceFile = 0, SourceByteArray = 1, SourceString = 2 };
enum class TCipherMode : std::uint8_t { ECBMode = 0, CBCMode = 1, CFBMode = 2 };

// The runtime's I/O error: the message names the condition, Code keeps the number and
// Path names the file it concerns (the input or the output of the file source).
class EInOutError : public std::runtime_error {
  public:
    explicit EInOutError(int code, std::string path = {});
    // Also keeps the system's own reason, the text of the errno value systemError.
    EInOutError(int code, std::string path, int systemError);
    int Code() const { return code_; }
    const std::string& Path() const { return path_; }
    // The system's reason ("Permission denied"), else the message.
    std::string Reason() const { return reason_.empty() ? what() : reason_; }
    static std::string MessageFor(int code);

    static constexpr int FileNotFound = 2;
    static constexpr int InvalidFilename = 3;
    static constexpr int TooManyOpenFiles = 4;
    static constexpr int AccessDenied = 5;
    static constexpr int DiskFull = 101;

  protected:
    EInOutError(int code, const std::string& message, std::string path);

  private:
    int code_;
    std::string path_;
    std::string reason_;
};

// The file source refuses an output that is its input file (by another name, a link or
// the same path): creating the output would empty the input before a byte was read.
// Raised before the output is opened; Path is the output.
class ESameFileError : public EInOutError {
  public:
    ESameFileError(const std::string& input, const std::string& output);
    const std::string& InputPath() const { return input_; }

  private:
    std::string input_;
};

// A call the component cannot serve safely: oversize input, a short IVector,
// a resume before any set-up, a missing buffer.
class ECryptError : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

// Overwrites n bytes with zeros in a way the compiler may not drop as dead stores, for
// key material in memory that is about to be freed or reused.
void WipeBytes(void* p, std::size_t n);

// A fresh IVector of n characters, each uniform in "!" .. "}", from the operating
// system's random source: no two runs share one, whatever the clock says.
std::string RandomIVector(std::size_t n);

class TCrypto {
  public:
    static constexpr std::size_t FileChunkSize = 4096;
    // 4096 input bytes plus room for the zero fill of the largest block.
    static constexpr std::size_t MaxBlockSize = 65;
    static constexpr std::size_t DataBufferSize = FileChunkSize + MaxBlockSize;

    TCrypto(const TCrypto&) = delete;
    TCrypto& operator=(const TCrypto&) = delete;
    virtual ~TCrypto();

    // Published properties. Key is write-only. (Text setters live out of line: GCC 12
    // warns falsely about assigning short literals once they are inlined.)
    void SetKey(std::string_view key);
    TSourceType InputType() const { return inputType_; }
    void SetInputType(TSourceType t) { inputType_ = t; }
    const std::string& InputFilePath() const { return inputFilePath_; }
    void SetInputFilePath(std::string_view value);
    const std::string& OutputFilePath() const { return outputFilePath_; }
    void SetOutputFilePath(std::string_view value);
    const std::string& InputString() const { return inputString_; }
    void SetInputString(std::string_view value);
    std::uint16_t InputLength() const { return inputLength_; }
    void SetInputLength(std::uint16_t n) { inputLength_ = n; }
    TCipherMode CipherMode() const { return cipherMode_; }
    void SetCipherMode(TCipherMode m) { cipherMode_ = m; }
    const std::string& IVector() const { return iVector_; }
    void SetIVector(std::string_view value);

    std::uint8_t BlockSize() const { return blockSize_; }
    // The CBC/CFB chaining block, or nullptr before the first feedback-mode set-up.
    const std::uint8_t* FeedbackBlock() const { return feedbackBlock_.get(); }

    // Caller-owned memory: read for SourceByteArray, written with the result.
    const std::uint8_t* InputBuffer = nullptr;
    std::uint8_t* OutputBuffer = nullptr;

    void EncipherInput(bool Resume);
    void DecipherInput(bool Resume);

  protected:
    explicit TCrypto(std::uint8_t blockSize);

    // Supplied by the cipher: transform the first BlockSize bytes of BlockBuffer in place.
    virtual void EncipherBlock() = 0;
    virtual void DecipherBlock() = 0;
    // Supplied by the cipher: derive the key schedule from KeyText().
    virtual void SetUpKey() = 0;
    virtual void EncipherBuffer();
    virtual void DecipherBuffer();

    // Multi-block primitive for the modes whose blocks are independent. The default
    // runs the single-block primitive; a cipher may override with a faster one.
    // in and out hold count blocks and may be the same memory.
    virtual void EncipherBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count);
    virtual void DecipherBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count);

    // The chained enciphering of CBC and CFB over count whole blocks, one after the
    // other; feedback holds the previous cipher block and receives the last one.
    // CBC: out = E(in xor feedback); CFB: out = in xor E(feedback). The default runs
    // the single-block primitive; a cipher may keep the chain in registers instead.
    virtual void EncipherChainCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                                  std::uint8_t* feedback);
    virtual void EncipherChainCFB(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                                  std::uint8_t* feedback);

    const std::string& KeyText() const { return key_; }

    std::array<std::uint8_t, MaxBlockSize> BlockBuffer{};

  private:
    void PrepareCipher(bool Resume);
    void LoadIVector();
    void GenerateIVector();
    void ShiftFeedback(const std::uint8_t* src, std::size_t n);
    void LoadByteArray();
    void LoadString();
    std::size_t ZeroFill();
    void RequireOutput() const;
    void EncipherECB();
    void DecipherECB();
    void EncipherCBC();
    void DecipherCBC();
    void EncipherCFB();
    void DecipherCFB();
    void EncipherFile();
    void DecipherFile();
    void ProcessFile(bool encipher);
    void WipeKey();

    std::string iVector_;
    std::unique_ptr<std::uint8_t[]> feedbackBlock_;
    std::string key_;
    TSourceType inputType_ = TSourceType::SourceFile;
    TCipherMode cipherMode_ = TCipherMode::ECBMode;
    std::string inputFilePath_;
    std::string outputFilePath_;
    std::string inputString_;
    std::uint16_t inputLength_ = 0;
    std::array<std::uint8_t, DataBufferSize> dataBuffer_{};
    // Where the modes find their input: DataBuffer, or a file's chunk where it was read.
    std::uint8_t* data_ = dataBuffer_.data();
    // Cipher blocks kept aside while CBC/CFB deciphering runs in place.
    std::array<std::uint8_t, DataBufferSize> scratch_{};
    std::uint8_t blockSize_;
    bool keyReady_ = false;
};

} // namespace velkor
