// What the fuzz targets hold the library against: the formats put together
// here from OpenSSL's primitives, written apart from the library's code.
#pragma once

#include <openssl/evp.h>

#include <optional>
#include <string>
#include <string_view>

namespace quillon::crypto::fuzz::reference {

// AES-256 applied to one 16-byte block at a time, under one 32-byte key.
class AesBlocks {
public:
    explicit AesBlocks(std::string_view key);
    AesBlocks(const AesBlocks&) = delete;
    AesBlocks& operator=(const AesBlocks&) = delete;
    ~AesBlocks();

    std::string encrypt(std::string_view block) const;
    std::string decrypt(std::string_view block) const;

private:
    EVP_CIPHER_CTX* encryption_;
    EVP_CIPHER_CTX* decryption_;
};

// CBC with ciphertext stealing in the CS3 arrangement, zero IV, made of
// single block operations; both take more than one block of data.
std::string cs3Encrypt(const AesBlocks& aes, std::string_view data);
std::string cs3Decrypt(const AesBlocks& aes, std::string_view data);

// PBKDF2-HMAC-SHA-256, 10000 iterations, 32 bytes.
std::string pbkdf2(std::string_view password, std::string_view salt);
std::string hmacSha256(std::string_view key, std::string_view data);
// AES-256 in counter mode from the all-zero counter block.
std::string counterMode(std::string_view key, std::string_view data);

// The sealed format (encryption salt, authentication salt, ciphertext, tag)
// opened: the data, or nothing when it is too short or its tag is wrong.
std::optional<std::string> openSealed(std::string_view sealed, std::string_view password);

} // namespace quillon::crypto::fuzz::reference
