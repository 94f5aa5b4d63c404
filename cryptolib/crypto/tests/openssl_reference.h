// An independent implementation (OpenSSL) of the primitives the library uses,
// for cross-checks.
#pragma once

#include <string>

namespace quillon::crypto::reference {

std::string pbkdf2Sha256(const std::string& password, const std::string& salt, int iterations,
                         std::size_t length);
std::string hmacSha256(const std::string& key, const std::string& data);
// AES-256-CTR from the all-zero counter block.
std::string aes256Ctr(const std::string& key, const std::string& data);
// Plain AES-256-CBC, zero IV, no padding (length a multiple of 16).
std::string aes256Cbc(const std::string& key, const std::string& data);
std::string aes256DecryptBlock(const std::string& key, const std::string& block);
// CBC with ciphertext stealing, CS3 arrangement, zero IV, built from single
// AES block operations; data longer than one block.
std::string cs3Encrypt(const std::string& key, const std::string& data);

} // namespace quillon::crypto::reference
