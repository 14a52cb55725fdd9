// IdeaLevels: which instruction set runs the IDEA block loops of the independent-block
// modes, chosen at run time from what the processor offers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace velkor {

// In increasing order; each level may also use the ones below it for short tails.
enum class IdeaLevel : std::uint8_t { Scalar, Sse2, Avx2, Avx512 };

inline constexpr std::array<IdeaLevel, 4> AllIdeaLevels{IdeaLevel::Scalar, IdeaLevel::Sse2,
                                                        IdeaLevel::Avx2, IdeaLevel::Avx512};

// "scalar", "sse2", "avx2", "avx512": the names VELKOR_IDEA_LEVEL takes.
std::string_view IdeaLevelName(IdeaLevel level);
std::optional<IdeaLevel> ParseIdeaLevel(std::string_view name);

// Whether this processor and operating system run the level's instructions.
bool IdeaLevelSupported(IdeaLevel level);
IdeaLevel IdeaBestLevel();

// The level a new cipher starts with: the best supported one, or the one named by the
// environment variable VELKOR_IDEA_LEVEL, lowered to what the processor supports.
// Read once per process; a note goes to stderr when the variable cannot be followed.
IdeaLevel IdeaStartLevel();

// Runs blocks of 8 bytes from in to out (which may be the same memory) with the vector
// code of level and the levels below it, under the 52-word key table. Returns how many
// leading blocks it did; the caller does the rest (at most two) with the scalar code.
std::size_t IdeaSlicedBlocks(IdeaLevel level, const std::uint16_t* key, const std::uint8_t* in,
                             std::uint8_t* out, std::size_t count);

// The vector kernels: whole registers of blocks only; each returns the blocks it did.
std::size_t IdeaBlocksSse2(const std::uint16_t* key, const std::uint8_t* in, std::uint8_t* out,
                           std::size_t count);
std::size_t IdeaBlocksAvx2(const std::uint16_t* key, const std::uint8_t* in, std::uint8_t* out,
                           std::size_t count);
std::size_t IdeaBlocksAvx512(const std::uint16_t* key, const std::uint8_t* in, std::uint8_t* out,
                             std::size_t count);

} // namespace velkor
