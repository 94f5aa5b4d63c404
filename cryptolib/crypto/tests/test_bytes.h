// Small conversions between the library's byte strings and test data.
#pragma once

#include "byte_string.h"

#include <cryptopp/secblock.h>

#include <string>

namespace quillon::crypto::test {

template <typename Allocator>
std::string plain(const std::vector<char, Allocator>& bytes)
{
    return std::string(bytes.data(), bytes.size());
}

inline std::string plain(const CryptoPP::SecByteBlock& bytes)
{
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline CryptoPP::SecByteBlock keyOf(const std::string& bytes)
{
    return CryptoPP::SecByteBlock(reinterpret_cast<const CryptoPP::byte*>(bytes.data()), bytes.size());
}

// Deterministic, varied bytes including zeros.
inline std::string patternBytes(std::size_t length, unsigned seed = 1)
{
    std::string out(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<char>((i * 131 + seed * 17 + (i >> 3)) & 0xFF);
    }
    return out;
}

} // namespace quillon::crypto::test
