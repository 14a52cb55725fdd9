// Ideaunit: the IDEA block cipher (64-bit block, 128-bit key) on the cipher component.
#pragma once

#include "crypto/Cryptcon.h"
#include "crypto/IdeaLevels.h"

#include <array>
#include <cstdint>

namespace velkor {

class TIDEA : public TCrypto {
  public:
    static constexpr int KeyWords = 52;
    using KeyTable = std::array<std::uint16_t, KeyWords>;

    TIDEA();
    ~TIDEA() override;

    // Multiplication modulo 65537, the word 0 standing for 65536.
    static std::uint16_t MulMod(std::uint16_t a, std::uint16_t b);
    static std::uint16_t MulInverse(std::uint16_t x);

    // Sets up both schedules from a raw 16-byte key block, for keys that a key text
    // cannot carry (zero bytes inside).
    void LoadKeyBlock(const std::array<std::uint8_t, 16>& block);

    // The schedules of the last key set up (for tests and diagnostics).
    const KeyTable& EncipherKeys() const { return encipherKeys_; }
    const KeyTable& DecipherKeys() const { return decipherKeys_; }
    const std::array<std::uint8_t, 17>& KeyBlock() const { return keyBuffer_; }

    // The instruction set of the independent-block modes (ECB, CBC and CFB deciphering).
    // Starts at IdeaStartLevel(); a level the processor lacks is lowered to the best it has.
    IdeaLevel Level() const { return level_; }
    void SetLevel(IdeaLevel level);

  protected:
    void EncipherBlock() override;
    void DecipherBlock() override;
    void SetUpKey() override;
    void EncipherBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) override;
    void DecipherBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) override;
    void EncipherChainCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                          std::uint8_t* feedback) override;
    void EncipherChainCFB(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                          std::uint8_t* feedback) override;

  private:
    void ExpandKey();
    void InvertKeys();
    void CipherBlock();

    std::array<std::uint8_t, 17> keyBuffer_{};
    std::uint8_t rounds_ = 8;
    KeyTable encipherKeys_{};
    KeyTable decipherKeys_{};
    const KeyTable* activeKeys_ = &encipherKeys_;
    IdeaLevel level_ = IdeaStartLevel();
};

} // namespace velkor
