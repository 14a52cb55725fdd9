// Linecodec: wire text to and from chat lines through a borrowed IDEA component.
#include "chat/Linecodec.h"

#include <algorithm>
#include <array>

namespace velkor::chat {

namespace {

using CodecBuffer = std::array<std::uint8_t, CodecBufferSize>;

// The component keeps the buffer pointers it was given; clear them when the call's
// buffers go out of scope, so a later user of the borrowed instance cannot write
// through a dangling pointer.
class BufferLoan {
  public:
    BufferLoan(TCrypto& c, const std::uint8_t* in, std::uint8_t* out) : c_(c) {
        c_.InputBuffer = in;
        c_.OutputBuffer = out;
    }
    ~BufferLoan() {
        c_.InputBuffer = nullptr;
        c_.OutputBuffer = nullptr;
    }
    BufferLoan(const BufferLoan&) = delete;
    BufferLoan& operator=(const BufferLoan&) = delete;

  private:
    TCrypto& c_;
};

// The text of a deciphered block: the zero padding and anything after it dropped.
std::string DecipheredText(const CodecBuffer& buf) {
    auto end = std::find(buf.begin(), buf.end(), std::uint8_t{0});
    return std::string(buf.begin(), end);
}

} // namespace

std::string ArmourEncode(std::string_view bytes) {
    if (bytes.size() % 3 != 0) return {};
    std::string out;
    out.reserve(bytes.size() / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        auto b0 = static_cast<unsigned char>(bytes[i]);
        auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        auto b2 = static_cast<unsigned char>(bytes[i + 2]);
        out += ArmourChar(static_cast<std::uint8_t>(b0 >> 2));
        out += ArmourChar(static_cast<std::uint8_t>((b0 & 3) << 4 | b1 >> 4));
        out += ArmourChar(static_cast<std::uint8_t>((b1 & 15) << 2 | b2 >> 6));
        out += ArmourChar(static_cast<std::uint8_t>(b2 & 63));
    }
    return out;
}

std::string ArmourDecode(std::string_view text) {
    if (text.size() % 4 != 0) return {};
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        unsigned s0 = ArmourValue(text[i]), s1 = ArmourValue(text[i + 1]);
        unsigned s2 = ArmourValue(text[i + 2]), s3 = ArmourValue(text[i + 3]);
        out += static_cast<char>((s0 << 2 | s1 >> 4) & 255);
        out += static_cast<char>((s1 << 4 | s2 >> 2) & 255);
        out += static_cast<char>((s2 << 6 | s3) & 255);
    }
    return out;
}

std::string PackWire(std::string_view cipherBytes) {
    std::string filled(cipherBytes);
    std::size_t r = filled.size() % 3;
    if (r != 0) filled.append(3 - r, ' ');
    return static_cast<char>('0' + r) + ArmourEncode(filled);
}

std::optional<std::string> UnpackWire(std::string_view wire) {
    if (wire.empty() || wire[0] < '0' || wire[0] > '2') return std::nullopt;
    std::string_view body = wire.substr(1);
    if (body.size() % 4 != 0) return std::nullopt;
    std::string bytes = ArmourDecode(body);
    // The digit is trusted: a digit that does not match the fill gives noise, not a refusal.
    std::size_t d = static_cast<std::size_t>(wire[0] - '0');
    if (d != 0) bytes.resize(bytes.size() >= 3 - d ? bytes.size() - (3 - d) : 0);
    return bytes;
}

std::string EncipherText(TIDEA& cipher, std::string_view text, std::string_view key) {
    if (text.empty() || text.size() > MaxLineBytes) return {};
    CodecBuffer out{};
    cipher.SetKey(key); // no temporary copy of the key text is left unwiped
    cipher.SetInputString(text);
    cipher.SetInputType(TSourceType::SourceString);
    BufferLoan loan(cipher, nullptr, out.data());
    cipher.EncipherInput(false);
    // Every cipher byte, zeros included: a zero is an ordinary cipher byte, not an end.
    std::size_t n = std::min<std::size_t>(cipher.InputLength(), MaxLineBytes);
    return std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
}

std::string DecipherText(TIDEA& cipher, std::string_view bytes, std::string_view key) {
    if (bytes.size() > MaxLineBytes) return {};
    CodecBuffer out{};
    CodecBuffer in{};
    std::copy(bytes.begin(), bytes.end(), in.begin());
    cipher.SetKey(key);
    cipher.SetInputLength(static_cast<std::uint16_t>(bytes.size()));
    cipher.SetCipherMode(TCipherMode::ECBMode);
    BufferLoan loan(cipher, in.data(), out.data());
    cipher.SetInputType(TSourceType::SourceByteArray);
    cipher.DecipherInput(false);
    return DecipheredText(out);
}

std::string EncryptLine(TIDEA& cipher, std::string_view line, std::string_view key) {
    if (line.empty() || line.size() > MaxLineBytes) return {};
    if (line.find('\0') != std::string_view::npos) return {};
    return PackWire(EncipherText(cipher, line, key));
}

std::string DecryptLine(TIDEA& cipher, std::string_view wire, std::string_view key) {
    std::optional<std::string> bytes = UnpackWire(wire);
    if (!bytes) return {};
    return DecipherText(cipher, *bytes, key);
}

} // namespace velkor::chat
