#include "machine_identity.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/sha.h>

namespace quillon::identity {

std::string sha256UpperHex(const std::string& bytes)
{
    std::string digest;
    CryptoPP::SHA256 hash;
    // The pipeline owns the filters it is given.
    CryptoPP::StringSource source(
        bytes, true,
        new CryptoPP::HashFilter(hash, new CryptoPP::HexEncoder(new CryptoPP::StringSink(digest), true, 0)));
    return digest;
}

} // namespace quillon::identity
