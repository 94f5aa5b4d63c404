// Turning a stored key text into the 32-byte AES key it hides.
#pragma once

#include "byte_string.h"

#include <cryptopp/secblock.h>

namespace quillon::crypto {

// Standard base64 alphabet, decoded up to the first "=" or foreign character.
// Never fails: a partial group of 2 or 3 characters yields 1 or 2 bytes, a
// single leftover character nothing.
ByteString decodeBase64(ByteView text);

// Undoes the positional scrambling: out[i] = in[i] + i - 72 (mod 256).
ByteString descramble(ByteView bytes);

// Exactly 32 bytes: the input cut or filled up with zero bytes.
CryptoPP::SecByteBlock fitKeyLength(ByteView bytes);

// fitKeyLength(descramble(decodeBase64(storedText))).
CryptoPP::SecByteBlock builtInKey(ByteView storedText);

} // namespace quillon::crypto
