// The benchmark's peers: libgcrypt, Botan 2 and Crypto++, each with its own IDEA.
#include "bench/bench_peers.h"

#include <botan/block_cipher.h>
#include <botan/cipher_mode.h>
#include <cryptopp/idea.h>
#include <cryptopp/modes.h>
#include <gcrypt.h>

#include <stdexcept>

namespace velkor::bench {
namespace {

const auto* KeyBytes() {
    return reinterpret_cast<const unsigned char*>(Key.data());
}
const auto* IVBytes() {
    return reinterpret_cast<const unsigned char*>(IV.data());
}

class GcryptPeer : public Peer {
  public:
    GcryptPeer(TCipherMode mode, bool encipher) : mode_(mode), encipher_(encipher) {
        int m = mode == TCipherMode::ECBMode   ? GCRY_CIPHER_MODE_ECB
                : mode == TCipherMode::CBCMode ? GCRY_CIPHER_MODE_CBC
                                               : GCRY_CIPHER_MODE_CFB;
        if (gcry_cipher_open(&h_, GCRY_CIPHER_IDEA, m, 0) != 0)
            throw std::runtime_error("gcrypt: no IDEA");
        SetKey();
    }
    ~GcryptPeer() override { gcry_cipher_close(h_); }
    void SetKey() override {
        gcry_cipher_setkey(h_, KeyBytes(), 16);
        if (mode_ != TCipherMode::ECBMode) gcry_cipher_setiv(h_, IVBytes(), 8);
    }
    void Run(unsigned char* p, std::size_t n) override {
        encipher_ ? gcry_cipher_encrypt(h_, p, n, nullptr, 0)
                  : gcry_cipher_decrypt(h_, p, n, nullptr, 0);
    }

  private:
    gcry_cipher_hd_t h_{};
    TCipherMode mode_;
    bool encipher_;
};

// Botan: the block cipher itself for ECB (its multi-block call is where the SIMD code
// runs), a cipher mode object for CBC and CFB.
class BotanPeer : public Peer {
  public:
    BotanPeer(TCipherMode mode, bool encipher) : mode_(mode), encipher_(encipher) {
        if (mode == TCipherMode::ECBMode) {
            block_ = Botan::BlockCipher::create_or_throw("IDEA");
        } else {
            auto dir = encipher ? Botan::ENCRYPTION : Botan::DECRYPTION;
            modeCipher_ = Botan::Cipher_Mode::create_or_throw(
                mode == TCipherMode::CBCMode ? "IDEA/CBC/NoPadding" : "IDEA/CFB", dir);
        }
        SetKey();
    }
    void SetKey() override {
        if (block_) {
            block_->set_key(KeyBytes(), 16);
        } else {
            modeCipher_->set_key(KeyBytes(), 16);
            modeCipher_->start(IVBytes(), 8);
        }
    }
    void Run(unsigned char* p, std::size_t n) override {
        if (!block_) {
            modeCipher_->process(p, n);
        } else if (encipher_) {
            block_->encrypt_n(p, p, n / 8);
        } else {
            block_->decrypt_n(p, p, n / 8);
        }
    }

  private:
    TCipherMode mode_;
    bool encipher_;
    std::unique_ptr<Botan::BlockCipher> block_;
    std::unique_ptr<Botan::Cipher_Mode> modeCipher_;
};

template <class Mode> class CryptoPPPeer : public Peer {
  public:
    explicit CryptoPPPeer(bool withIV) : withIV_(withIV) { SetKey(); }
    void SetKey() override {
        if (withIV_)
            cipher_.SetKeyWithIV(KeyBytes(), 16, IVBytes(), 8);
        else
            cipher_.SetKey(KeyBytes(), 16);
    }
    void Run(unsigned char* p, std::size_t n) override { cipher_.ProcessData(p, p, n); }

  private:
    bool withIV_;
    Mode cipher_;
};

} // namespace

std::unique_ptr<Peer> Peer::Create(PeerKind kind, TCipherMode mode, bool encipher) {
    using CryptoPP::IDEA;
    switch (kind) {
    case PeerKind::Gcrypt:
        return std::make_unique<GcryptPeer>(mode, encipher);
    case PeerKind::Botan:
        return std::make_unique<BotanPeer>(mode, encipher);
    case PeerKind::CryptoPP:
        switch (mode) {
        case TCipherMode::ECBMode:
            if (encipher)
                return std::make_unique<CryptoPPPeer<CryptoPP::ECB_Mode<IDEA>::Encryption>>(false);
            return std::make_unique<CryptoPPPeer<CryptoPP::ECB_Mode<IDEA>::Decryption>>(false);
        case TCipherMode::CBCMode:
            if (encipher)
                return std::make_unique<CryptoPPPeer<CryptoPP::CBC_Mode<IDEA>::Encryption>>(true);
            return std::make_unique<CryptoPPPeer<CryptoPP::CBC_Mode<IDEA>::Decryption>>(true);
        case TCipherMode::CFBMode:
            if (encipher)
                return std::make_unique<CryptoPPPeer<CryptoPP::CFB_Mode<IDEA>::Encryption>>(true);
            return std::make_unique<CryptoPPPeer<CryptoPP::CFB_Mode<IDEA>::Decryption>>(true);
        }
    }
    throw std::logic_error("unknown peer");
}

void InitPeers() {
    gcry_check_version(nullptr);
}

} // namespace velkor::bench
