// Byte strings of the crypto library: counted bytes of any value, zero bytes
// included. Anything that may hold a caller's secret or key material lives in
// storage that is wiped when it is released.
#pragma once

#include <string>
#include <string_view>

#include <cryptopp/secblock.h>

namespace quillon::crypto {

using ByteString = std::basic_string<char, std::char_traits<char>, CryptoPP::AllocatorWithCleanup<char>>;
using ByteView = std::string_view;

inline ByteView viewOf(const ByteString& bytes)
{
    return ByteView(bytes.data(), bytes.size());
}

inline const CryptoPP::byte* bytePointer(ByteView bytes)
{
    return reinterpret_cast<const CryptoPP::byte*>(bytes.data());
}

} // namespace quillon::crypto
