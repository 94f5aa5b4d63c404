#include "crypto_service.h"
#include "dead_stack.h"
#include "pbkdf2_sha256.h"

#include <cryptopp/aes.h>
#include <cryptopp/hmac.h>
#include <cryptopp/misc.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>

namespace quillon::crypto {

namespace {

using CryptoPP::byte;
using Key = CryptoPP::FixedSizeSecBlock<byte, CryptoService::kKeyLength>;

ByteView viewOf(const byte* bytes, std::size_t length)
{
    return ByteView(reinterpret_cast<const char*>(bytes), length);
}

// The encryption and the authentication key of one sealed string. The two
// derivations run at once, interleaved in this thread: a seal or an open
// takes little longer than one derivation, and a second caller on the other
// core is not slowed by threads of ours.
struct SealKeys {
    Key encryption;
    Key authentication;

    SealKeys(ByteView password, ByteView encryptionSalt, ByteView authenticationSalt)
    {
        pbkdf2HmacSha256Pair(password, encryptionSalt, authenticationSalt, CryptoService::kIterations,
                             encryption.data(), authentication.data(), CryptoService::kKeyLength);
    }
};

// AES-256-CTR from the all-zero counter block; the same transformation
// encrypts and decrypts.
void counterMode(const Key& key, ByteView input, byte* output)
{
    const byte zeroCounter[CryptoPP::AES::BLOCKSIZE] = {};
    CryptoPP::CTR_Mode<CryptoPP::AES>::Encryption cipher(key, key.size(), zeroCounter);
    if (!input.empty()) {
        cipher.ProcessData(output, bytePointer(input), input.size());
    }
}

void tagOf(const Key& key, ByteView ciphertext, byte* tag)
{
    CryptoPP::HMAC<CryptoPP::SHA256> mac(key, key.size());
    mac.Update(bytePointer(ciphertext), ciphertext.size());
    mac.Final(tag);
}

} // namespace

CryptoPP::SecByteBlock CryptoService::deriveKey(ByteView password, ByteView salt, unsigned iterations,
                                                std::size_t length) const
{
    const DeadStackWipe wipe;
    CryptoPP::SecByteBlock key(length);
    pbkdf2HmacSha256(password, salt, iterations, key.data(), key.size());
    return key;
}

void CryptoService::sealInto(ByteView data, ByteView password, char* out) const
{
    const DeadStackWipe wipe;
    CryptoPP::AutoSeededRandomPool pool;
    byte* const encryptionSalt = bytePointer(out);
    byte* const authenticationSalt = encryptionSalt + kSaltLength;
    byte* const ciphertext = authenticationSalt + kSaltLength;
    pool.GenerateBlock(encryptionSalt, kSaltLength);
    pool.GenerateBlock(authenticationSalt, kSaltLength);

    const SealKeys keys(password, viewOf(encryptionSalt, kSaltLength), viewOf(authenticationSalt, kSaltLength));
    counterMode(keys.encryption, data, ciphertext);
    tagOf(keys.authentication, viewOf(ciphertext, data.size()), ciphertext + data.size());
}

PublicBytes CryptoService::encryptWithPassword(ByteView data, ByteView password) const
{
    PublicBytes sealed(data.size() + kSealOverhead);
    sealInto(data, password, sealed.data());
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

    // Deriving the encryption key alongside costs a refused input CPU time,
    // not wall time; nothing is decrypted before the tag has matched.
    const DeadStackWipe wipe;
    const SealKeys keys(password, encryptionSalt, authenticationSalt);
    byte computedTag[kTagLength];
    tagOf(keys.authentication, ciphertext, computedTag);
    if (!CryptoPP::VerifyBufsEqual(computedTag, bytePointer(storedTag), kTagLength)) {
        return {};
    }
    ByteString data(ciphertext.size());
    counterMode(keys.encryption, ciphertext, bytePointer(data.data()));
    return data;
}

} // namespace quillon::crypto
