#include "dead_stack.h"

#include <cryptopp/misc.h>

namespace quillon::crypto {

// Deeper than any of Crypto++'s calls beneath an operation; the wipe cannot
// be optimised away.
[[gnu::noinline]] void wipeDeadStack() noexcept
{
    CryptoPP::byte frames[16384];
    CryptoPP::SecureWipeBuffer(frames, sizeof frames);
}

} // namespace quillon::crypto
