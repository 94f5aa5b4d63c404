#include "crypto_service.h"

#include <cryptopp/aes.h>
#include <cryptopp/filters.h>
#include <cryptopp/modes.h>

namespace quillon::crypto {

namespace {

constexpr std::size_t kBlock = CryptoPP::AES::BLOCKSIZE;

ByteString runThrough(CryptoPP::StreamTransformation& mode, ByteView data)
{
    ByteString output;
    output.reserve(data.size());
    CryptoPP::StringSource pipeline(
        bytePointer(data), data.size(), true,
        new CryptoPP::StreamTransformationFilter(mode, new CryptoPP::StringSinkTemplate<ByteString>(output)));
    return output;
}

} // namespace

ByteString CryptoService::encryptWithKey(ByteView data, const CryptoPP::SecByteBlock& key) const
{
    // Ciphertext stealing needs more than one block. Refuse shorter data here:
    // in the external-cipher form the mode's short-message path reads a pointer
    // that nothing has set, so it must never see such data.
    if (data.size() <= kBlock) {
        return {};
    }
    const CryptoPP::byte zeroIv[kBlock] = {};
    CryptoPP::AES::Encryption aes(key, key.size());
    CryptoPP::CBC_CTS_Mode_ExternalCipher::Encryption mode(aes, zeroIv);
    return runThrough(mode, data);
}

ByteString CryptoService::decryptWithKey(ByteView data, const CryptoPP::SecByteBlock& key) const
{
    if (data.empty()) {
        return {};
    }
    const CryptoPP::byte zeroIv[kBlock] = {};
    CryptoPP::AES::Decryption aes(key, key.size());
    CryptoPP::CBC_CTS_Mode_ExternalCipher::Decryption mode(aes, zeroIv);
    return runThrough(mode, data);
}

} // namespace quillon::crypto
