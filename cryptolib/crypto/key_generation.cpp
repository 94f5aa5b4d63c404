#include "crypto_service.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/osrng.h>

#include <cstdlib>

namespace quillon::crypto {

namespace {
constexpr std::size_t kPasswordBlock = 20;
constexpr std::size_t kPasswordLength = 19;
constexpr std::size_t kDataBlock = 2048;
constexpr std::size_t kDataLength = 2047;
constexpr int kShortestText = 768;
constexpr int kLengthSpread = 805; // lengths 768..1572
} // namespace

ByteString CryptoService::generateKeyText() const
{
    CryptoPP::AutoSeededRandomPool pool;
    CryptoPP::SecByteBlock password(kPasswordBlock);
    CryptoPP::SecByteBlock data(kDataBlock);
    pool.GenerateBlock(password, password.size());
    pool.GenerateBlock(data, data.size());

    // The sealed bytes are the key text's source: they stay in wiped storage.
    ByteString sealed(kDataLength + kSealOverhead);
    sealInto(ByteView(reinterpret_cast<const char*>(data.data()), kDataLength),
             ByteView(reinterpret_cast<const char*>(password.data()), kPasswordLength), sealed.data());

    ByteString hex;
    hex.reserve(2 * sealed.size());
    CryptoPP::StringSource pipeline(
        bytePointer(viewOf(sealed)), sealed.size(), true,
        new CryptoPP::HexEncoder(new CryptoPP::StringSinkTemplate<ByteString>(hex), true));

    const auto length = static_cast<std::size_t>(std::rand() % kLengthSpread + kShortestText);
    hex.resize(length);
    return hex;
}

} // namespace quillon::crypto
