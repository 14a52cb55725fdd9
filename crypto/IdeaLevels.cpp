// IdeaLevels: processor detection, the VELKOR_IDEA_LEVEL override and the cascade from
// the widest vector code down to the tail of a block run.
#include "crypto/IdeaLevels.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace velkor {

std::string_view IdeaLevelName(IdeaLevel level) {
    switch (level) {
    case IdeaLevel::Scalar:
        return "scalar";
    case IdeaLevel::Sse2:
        return "sse2";
    case IdeaLevel::Avx2:
        return "avx2";
    case IdeaLevel::Avx512:
        return "avx512";
    }
    return "?";
}

std::optional<IdeaLevel> ParseIdeaLevel(std::string_view name) {
    for (IdeaLevel level : AllIdeaLevels)
        if (IdeaLevelName(level) == name) return level;
    return std::nullopt;
}

bool IdeaLevelSupported(IdeaLevel level) {
#if VELKOR_IDEA_SIMD
    // These checks include the operating system's saving of the wide registers.
    switch (level) {
    case IdeaLevel::Scalar:
        return true;
    case IdeaLevel::Sse2:
        return __builtin_cpu_supports("sse2");
    case IdeaLevel::Avx2:
        return __builtin_cpu_supports("avx2");
    case IdeaLevel::Avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    }
    return false;
#else
    return level == IdeaLevel::Scalar;
#endif
}

IdeaLevel IdeaBestLevel() {
    IdeaLevel best = IdeaLevel::Scalar;
    for (IdeaLevel level : AllIdeaLevels)
        if (IdeaLevelSupported(level)) best = level;
    return best;
}

namespace {

IdeaLevel ReadStartLevel() {
    IdeaLevel best = IdeaBestLevel();
    const char* env = std::getenv("VELKOR_IDEA_LEVEL");
    if (env == nullptr || *env == '\0') return best;
    std::optional<IdeaLevel> wanted = ParseIdeaLevel(env);
    if (!wanted) {
        std::fprintf(stderr,
                     "VELKOR_IDEA_LEVEL=%s is not one of scalar, sse2, avx2, avx512; using %s\n",
                     env, std::string(IdeaLevelName(best)).c_str());
        return best;
    }
    if (*wanted > best) {
        std::fprintf(stderr, "VELKOR_IDEA_LEVEL=%s: this processor lacks it; using %s\n", env,
                     std::string(IdeaLevelName(best)).c_str());
        return best;
    }
    return *wanted;
}

} // namespace

IdeaLevel IdeaStartLevel() {
    static const IdeaLevel level = ReadStartLevel();
    return level;
}

std::size_t IdeaSlicedBlocks(IdeaLevel level, const std::uint16_t* key, const std::uint8_t* in,
                             std::uint8_t* out, std::size_t count) {
#if VELKOR_IDEA_SIMD
    std::size_t done = 0;
    if (level >= IdeaLevel::Avx512) done += IdeaBlocksAvx512(key, in, out, count);
    if (level >= IdeaLevel::Avx2)
        done += IdeaBlocksAvx2(key, in + 8 * done, out + 8 * done, count - done);
    if (level >= IdeaLevel::Sse2) {
        done += IdeaBlocksSse2(key, in + 8 * done, out + 8 * done, count - done);
        // Three to seven blocks left: one padded register still beats the scalar code,
        // which runs two blocks at a time through a long chain of multiplications.
        if (std::size_t rest = count - done; rest >= 3) {
            std::uint8_t pad[64] = {};
            std::memcpy(pad, in + 8 * done, 8 * rest);
            IdeaBlocksSse2(key, pad, pad, 8);
            std::memcpy(out + 8 * done, pad, 8 * rest);
            done = count;
        }
    }
    return done;
#else
    (void)level, (void)key, (void)in, (void)out, (void)count;
    return 0;
#endif
}

} // namespace velkor
