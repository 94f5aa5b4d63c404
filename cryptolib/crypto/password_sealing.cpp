#include "crypto_service.h"

#include <cryptopp/aes.h>
#include <cryptopp/filters.h>
#include <cryptopp/hmac.h>
#include <cryptopp/misc.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/pwdbased.h>
#include <cryptopp/sha.h>

namespace quillon::crypto {

namespace {

using CryptoPP::byte;

// AES-256-CTR from the all-zero counter block; the same transformation
// encrypts and decrypts.
ByteString counterModeTransform(ByteView input, const CryptoPP::SecByteBlock& key)
{
    const byte zeroCounter[CryptoPP::AES::BLOCKSIZE] = {};
    CryptoPP::CTR_Mode<CryptoPP::AES>::Encryption cipher(key, key.size(), zeroCounter);
    ByteString output;
    output.reserve(input.size());
    CryptoPP::StringSource pipeline(
        bytePointer(input), input.size(), true,
        new CryptoPP::StreamTransformationFilter(
            cipher, new CryptoPP::StringSinkTemplate<ByteString>(output),
            CryptoPP::StreamTransformationFilter::NO_PADDING));
    return output;
}

ByteString tagOf(ByteView ciphertext, const CryptoPP::SecByteBlock& key)
{
    CryptoPP::HMAC<CryptoPP::SHA256> mac(key, key.size());
    ByteString tag;
    CryptoPP::StringSource pipeline(
        bytePointer(ciphertext), ciphertext.size(), true,
        new CryptoPP::HashFilter(mac, new CryptoPP::StringSinkTemplate<ByteString>(tag)));
    return tag;
}

} // namespace

CryptoPP::SecByteBlock CryptoService::deriveKey(ByteView password, ByteView salt, unsigned iterations,
                                                std::size_t length) const
{
    CryptoPP::SecByteBlock key(length);
    CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA256> pbkdf2;
    pbkdf2.DeriveKey(key, key.size(), 0, bytePointer(password), password.size(), bytePointer(salt),
                     salt.size(), iterations, 0.0);
    return key;
}

ByteString CryptoService::encryptWithPassword(ByteView data, ByteView password) const
{
    CryptoPP::AutoSeededRandomPool pool;

    byte encryptionSalt[kSaltLength];
    pool.GenerateBlock(encryptionSalt, sizeof encryptionSalt);
    const ByteView encryptionSaltView(reinterpret_cast<const char*>(encryptionSalt), kSaltLength);
    const ByteString ciphertext =
        counterModeTransform(data, deriveKey(password, encryptionSaltView, kIterations, kKeyLength));

    byte authenticationSalt[kSaltLength];
    pool.GenerateBlock(authenticationSalt, sizeof authenticationSalt);
    const ByteView authenticationSaltView(reinterpret_cast<const char*>(authenticationSalt), kSaltLength);
    const ByteString tag =
        tagOf(viewOf(ciphertext), deriveKey(password, authenticationSaltView, kIterations, kKeyLength));

    ByteString sealed;
    sealed.reserve(data.size() + kSealOverhead);
    sealed.append(encryptionSaltView.data(), encryptionSaltView.size());
    sealed.append(authenticationSaltView.data(), authenticationSaltView.size());
    sealed.append(ciphertext);
    sealed.append(tag);
    return sealed;
}

ByteString CryptoService::decryptWithPassword(ByteView sealed, ByteView password) const
{
    if (sealed.size() <= kSealOverhead) {
        return {};
    }
    const ByteView encryptionSalt = sealed.substr(0, kSaltLength);
    const ByteView authenticationSalt = sealed.substr(kSaltLength, kSaltLength);
    const ByteView ciphertext = sealed.substr(2 * kSaltLength, sealed.size() - kSealOverhead);
    const ByteView storedTag = sealed.substr(sealed.size() - kTagLength);

    // The tag is checked first, so a refused input costs one derivation only.
    const ByteString computedTag =
        tagOf(ciphertext, deriveKey(password, authenticationSalt, kIterations, kKeyLength));
    if (!CryptoPP::VerifyBufsEqual(bytePointer(viewOf(computedTag)), bytePointer(storedTag), kTagLength)) {
        return {};
    }
    return counterModeTransform(ciphertext, deriveKey(password, encryptionSalt, kIterations, kKeyLength));
}

} // namespace quillon::crypto
