// The IDEA of libgcrypt, Botan 2 and Crypto++ behind one small interface, for the
// benchmark: a cipher in one mode and direction that keeps its chaining state from one
// Run to the next, as the component does over resumed calls.
#pragma once

#include "crypto/Cryptcon.h"

#include <cstddef>
#include <memory>
#include <string>

namespace velkor::bench {

inline const std::string Key = "benchmark key 16";
inline const std::string IV = "IVIVIVIV";

enum class PeerKind { Gcrypt, Botan, CryptoPP };

class Peer {
  public:
    virtual ~Peer() = default;
    // Transforms n bytes in place (a multiple of 8 except for the end of a CFB stream).
    virtual void Run(unsigned char* p, std::size_t n) = 0;
    // Sets the key again (the chat-line case sets it for every line).
    virtual void SetKey() = 0;

    static std::unique_ptr<Peer> Create(PeerKind kind, TCipherMode mode, bool encipher);
};

void InitPeers();

} // namespace velkor::bench
