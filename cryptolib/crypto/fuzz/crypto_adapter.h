// The fuzz targets reach the crypto library through these functions only,
// in plain bytes (std::string): a change of the library's byte types is a
// change of this file alone.
#pragma once

#include "built_in_key.h"
#include "crypto_service.h"

#include <string>
#include <string_view>

namespace quillon::crypto::fuzz {

template <typename Bytes>
std::string plainBytes(const Bytes& bytes)
{
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline const CryptoService& service()
{
    static const CryptoService instance;
    return instance;
}

inline CryptoPP::SecByteBlock keyBlock(std::string_view key)
{
    return CryptoPP::SecByteBlock(reinterpret_cast<const CryptoPP::byte*>(key.data()), key.size());
}

inline std::string seal(std::string_view data, std::string_view password)
{
    return plainBytes(service().encryptWithPassword(data, password));
}

inline std::string open(std::string_view sealed, std::string_view password)
{
    return plainBytes(service().decryptWithPassword(sealed, password));
}

inline std::string encryptWithKey(std::string_view data, std::string_view key)
{
    return plainBytes(service().encryptWithKey(data, keyBlock(key)));
}

inline std::string decryptWithKey(std::string_view data, std::string_view key)
{
    return plainBytes(service().decryptWithKey(data, keyBlock(key)));
}

inline std::string decodeBase64(std::string_view text)
{
    return plainBytes(crypto::decodeBase64(text));
}

inline std::string descramble(std::string_view bytes)
{
    return plainBytes(crypto::descramble(bytes));
}

inline std::string fitKeyLength(std::string_view bytes)
{
    return plainBytes(crypto::fitKeyLength(bytes));
}

inline std::string builtInKey(std::string_view storedText)
{
    return plainBytes(crypto::builtInKey(storedText));
}

} // namespace quillon::crypto::fuzz
