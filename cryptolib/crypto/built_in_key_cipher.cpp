#include "crypto_service.h"
#include "dead_stack.h"

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>

namespace quillon::crypto {

namespace {

constexpr std::size_t kBlock = CryptoPP::AES::BLOCKSIZE;

// Runs the whole data through a ciphertext-stealing mode straight into the
// result: every block but the last two chained as in CBC, the last 17..32
// bytes (or the whole of shorter data) through the mode's last-block step.
template <typename Result>
Result runThrough(CryptoPP::StreamTransformation& mode, ByteView data)
{
    Result output(data.size());
    const std::size_t lead = data.size() > 2 * kBlock ? ((data.size() - 1) / kBlock - 1) * kBlock : 0;
    auto* out = bytePointer(output.data());
    if (lead > 0) {
        mode.ProcessData(out, bytePointer(data), lead);
    }
    mode.ProcessLastBlock(out + lead, output.size() - lead, bytePointer(data) + lead, data.size() - lead);
    return output;
}

} // namespace

PublicBytes CryptoService::encryptWithKey(ByteView data, const CryptoPP::SecByteBlock& key) const
{
    // Ciphertext stealing needs more than one block. Refuse shorter data here:
    // in the external-cipher form the mode's short-message path reads a pointer
    // that nothing has set, so it must never see such data.
    if (data.size() <= kBlock) {
        return {};
    }
    const DeadStackWipe wipe;
    const CryptoPP::byte zeroIv[kBlock] = {};
    CryptoPP::AES::Encryption aes(key, key.size());
    CryptoPP::CBC_CTS_Mode_ExternalCipher::Encryption mode(aes, zeroIv);
    return runThrough<PublicBytes>(mode, data);
}

ByteString CryptoService::decryptWithKey(ByteView data, const CryptoPP::SecByteBlock& key) const
{
    if (data.empty()) {
        return {};
    }
    const DeadStackWipe wipe;
    const CryptoPP::byte zeroIv[kBlock] = {};
    CryptoPP::AES::Decryption aes(key, key.size());
    CryptoPP::CBC_CTS_Mode_ExternalCipher::Decryption mode(aes, zeroIv);
    return runThrough<ByteString>(mode, data);
}

} // namespace quillon::crypto
