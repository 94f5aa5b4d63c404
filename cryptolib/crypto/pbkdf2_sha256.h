// PBKDF2-HMAC-SHA-256 (PKCS #5 v2) at the cost of its compressions: the HMAC
// key's inner and outer states are computed once per derivation, and every
// further iteration is two calls of Crypto++'s SHA-256 transform (SHA-NI
// where the processor has it) on one prepared block. Byte for byte the same
// as Crypto++'s PKCS5_PBKDF2_HMAC<SHA256> with purpose 0.
#pragma once

#include "byte_string.h"

#include <cryptopp/config.h>

#include <cstddef>

namespace quillon::crypto {

// Derives `length` bytes into `out`. iterations >= 1.
void pbkdf2HmacSha256(ByteView password, ByteView salt, unsigned iterations, CryptoPP::byte* out,
                      std::size_t length);

// Two derivations of one password over two salts, their compression chains
// interleaved in the calling thread: the processor overlaps the two
// independent chains, so both take little longer than one.
void pbkdf2HmacSha256Pair(ByteView password, ByteView firstSalt, ByteView secondSalt, unsigned iterations,
                          CryptoPP::byte* firstOut, CryptoPP::byte* secondOut, std::size_t length);

} // namespace quillon::crypto
