// The library's service class: password sealing, the built-in-key cipher and
// key generation. It holds no data; every operation builds its own Crypto++
// objects and releases them before it returns.
#pragma once

#include "byte_string.h"

#include <cryptopp/secblock.h>

namespace quillon::crypto {

class CryptoService {
public:
    // Seeds the C runtime generator (used only for key-text lengths) with the
    // current calendar time in whole seconds.
    CryptoService();

    static constexpr std::size_t kSaltLength = 20;
    static constexpr std::size_t kKeyLength = 32;
    static constexpr std::size_t kTagLength = 32;
    static constexpr std::size_t kSealOverhead = 2 * kSaltLength + kTagLength; // 72
    static constexpr unsigned kIterations = 10000;

    // Encryption salt, authentication salt, AES-256-CTR ciphertext, and the
    // HMAC-SHA-256 tag over the ciphertext: data.size() + 72 bytes.
    PublicBytes encryptWithPassword(ByteView data, ByteView password) const;
    // The data, or empty when the input is too short or its tag does not match.
    // Both keys are derived at once; the data is decrypted only after the tag
    // has matched.
    ByteString decryptWithPassword(ByteView sealed, ByteView password) const;
    // PBKDF2-HMAC-SHA-256 of the password over the salt.
    CryptoPP::SecByteBlock deriveKey(ByteView password, ByteView salt, unsigned iterations,
                                     std::size_t length) const;

    // AES-256 CBC with ciphertext stealing (CS3), zero IV, output as long as
    // the input. Empty for empty data, and for 1..16 bytes, which ciphertext
    // stealing cannot encrypt.
    PublicBytes encryptWithKey(ByteView data, const CryptoPP::SecByteBlock& key) const;
    // Inverse of encryptWithKey; 1..16 bytes decrypt against the IV block.
    ByteString decryptWithKey(ByteView data, const CryptoPP::SecByteBlock& key) const;

    // A random uppercase hexadecimal key text of 768..1572 characters.
    ByteString generateKeyText() const;

private:
    // The sealed format of encryptWithPassword, written into
    // out[0 .. data.size() + 72).
    void sealInto(ByteView data, ByteView password, char* out) const;
};

} // namespace quillon::crypto
