// Key text in memory: once the component is destroyed, or has set up a new key, no piece of
// the old key text is left in the object, in a heap block it freed or in one it still
// holds; the line codec leaves no copies of its own. The heap is watched through this
// binary's own operator new and delete.
#include "chat/Linecodec.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string_view>

namespace {

// Any 6 bytes in a row of the secret count as a piece of it.
constexpr std::size_t PieceSize = 6;

bool HoldsPiece(const void* p, std::size_t n, std::string_view secret) {
    for (std::size_t o = 0; o + PieceSize <= secret.size(); ++o)
        if (memmem(p, n, secret.data() + o, PieceSize)) return true;
    return false;
}

// Zero-initialised, so it works before any constructor has run.
struct HeapWatch {
    static constexpr std::size_t MaxLive = 256;
    bool armed;
    std::string_view secret;
    // The key words as the key schedule holds them on a little-endian machine: the key
    // text's first 16 bytes with each pair swapped.
    char swapped[16];
    std::size_t swappedSize;
    void* live[MaxLive];
    std::size_t liveCount;
    bool overflow;
    bool freedPiece; // a block freed while armed held a piece of the secret

    void Watch(std::string_view key) {
        *this = HeapWatch{};
        secret = key;
        swappedSize = std::min<std::size_t>(key.size(), 16) & ~std::size_t{1};
        for (std::size_t i = 0; i < swappedSize; ++i)
            swapped[i] = key[i ^ 1];
        armed = true;
    }

    bool Holds(const void* p, std::size_t n) const {
        return HoldsPiece(p, n, secret) || HoldsPiece(p, n, {swapped, swappedSize});
    }

    void Allocated(void* p) {
        if (!armed) return;
        if (liveCount == MaxLive)
            overflow = true;
        else
            live[liveCount++] = p;
    }

    void Freeing(void* p) {
        for (std::size_t i = 0; i < liveCount; ++i)
            if (live[i] == p) {
                live[i] = live[--liveCount];
                break;
            }
        if (armed && Holds(p, malloc_usable_size(p))) freedPiece = true;
    }

    bool LivePiece() const {
        for (std::size_t i = 0; i < liveCount; ++i)
            if (Holds(live[i], malloc_usable_size(live[i]))) return true;
        return false;
    }
};
HeapWatch watch;

} // namespace

void* operator new(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    watch.Allocated(p);
    return p;
}

void operator delete(void* p) noexcept {
    if (!p) return;
    watch.Freeing(p);
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}

namespace velkor {
namespace {

constexpr std::string_view ShortKey = "Qz7#Wk9!Xp2"; // kept inside the string object
constexpr std::string_view LongKey = "Lm4%Rt8&Vb1*Nc6^Hd3(Js5)Gf0+Ky2=Pw9~Ua7";
constexpr std::string_view NewKey = "n3w key";

void EncipherBlockWith(TIDEA& c, std::string_view key, TCipherMode mode) {
    std::uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8}, out[8];
    c.SetKey(key);
    c.SetCipherMode(mode);
    c.SetIVector("12345678");
    c.SetInputType(TSourceType::SourceByteArray);
    c.SetInputLength(8);
    c.InputBuffer = block;
    c.OutputBuffer = out;
    c.EncipherInput(false);
    c.InputBuffer = c.OutputBuffer = nullptr;
}

TEST(KeyWipe, NoPieceOfAnOldKeyIsLeft) {
    struct Case {
        const char* what;
        std::string_view secret;
        bool destroy; // scanned after the object is gone; else while it lives on
        std::function<void(TIDEA&, std::string_view)> use;
    } cases[] = {
        {"destroyed after ECB, short key", ShortKey, true,
         [](TIDEA& c, std::string_view k) { EncipherBlockWith(c, k, TCipherMode::ECBMode); }},
        {"destroyed after CBC, long key", LongKey, true,
         [](TIDEA& c, std::string_view k) { EncipherBlockWith(c, k, TCipherMode::CBCMode); }},
        {"new key set up, short key before", ShortKey, false,
         [](TIDEA& c, std::string_view k) {
             EncipherBlockWith(c, k, TCipherMode::ECBMode);
             EncipherBlockWith(c, NewKey, TCipherMode::ECBMode);
         }},
        {"new key set up, long key before", LongKey, false,
         [](TIDEA& c, std::string_view k) {
             EncipherBlockWith(c, k, TCipherMode::CFBMode);
             EncipherBlockWith(c, NewKey, TCipherMode::CFBMode);
         }},
        {"longer key after a long key", LongKey, false,
         [](TIDEA& c, std::string_view k) {
             EncipherBlockWith(c, k, TCipherMode::ECBMode);
             EncipherBlockWith(c, "a key text longer than the forty characters before",
                               TCipherMode::ECBMode);
         }},
        {"codec lines, short key, destroyed", ShortKey, true,
         [](TIDEA& c, std::string_view k) {
             chat::DecryptLine(c, chat::EncryptLine(c, "a chat line", k), k);
         }},
        {"codec lines, long key, destroyed", LongKey, true,
         [](TIDEA& c, std::string_view k) {
             chat::DecryptLine(c, chat::EncryptLine(c, "a chat line", k), k);
         }},
        {"codec lines, then a new key", LongKey, false,
         [](TIDEA& c, std::string_view k) {
             chat::DecryptLine(c, chat::EncryptLine(c, "a chat line", k), k);
             chat::EncryptLine(c, "another line", NewKey);
         }},
    };
    for (const auto& k : cases) {
        alignas(TIDEA) unsigned char storage[sizeof(TIDEA)];
        watch.Watch(k.secret);
        auto* c = new (storage) TIDEA;
        k.use(*c, k.secret);
        if (k.destroy) c->~TIDEA();
        watch.armed = false;
        bool inObject = watch.Holds(storage, sizeof storage);
        bool inLiveBlock = watch.LivePiece();
        if (!k.destroy) c->~TIDEA();
        EXPECT_FALSE(watch.overflow) << k.what;
        EXPECT_FALSE(inObject) << k.what << ": in the object";
        EXPECT_FALSE(inLiveBlock) << k.what << ": in a heap block still held";
        EXPECT_FALSE(watch.freedPiece) << k.what << ": in a heap block freed without wiping";
    }
}

// The watch sees what it is meant to see: a key text copied into an unwiped string.
TEST(KeyWipe, TheWatchFindsAnUnwipedCopy) {
    watch.Watch(LongKey);
    {
        std::string copy(LongKey);
        asm volatile("" : : "r"(copy.data()) : "memory"); // the copy is made, not optimised away
    }
    watch.armed = false;
    EXPECT_TRUE(watch.freedPiece);
}

} // namespace
} // namespace velkor
