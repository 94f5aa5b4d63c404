// The compression floor and the key derivations: ours against Crypto++'s and
// OpenSSL's PKCS5_PBKDF2_HMAC, and the ways to run the two of one seal.
#include "direct_measurements.h"

#include "crypto_service.h"
#include "pbkdf2_sha256.h"

#include <cryptopp/pwdbased.h>
#include <cryptopp/sha.h>
#include <openssl/evp.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

namespace quillon::bench {

namespace {

using CryptoPP::byte;
using crypto::CryptoService;

const std::string password = "benchmark password";
const std::string salt(CryptoService::kSaltLength, 's');
const std::string otherSalt(CryptoService::kSaltLength, 't');

struct Key {
    byte bytes[CryptoService::kKeyLength];
};

void deriveCryptopp(Key& key)
{
    CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA256>().DeriveKey(
        key.bytes, sizeof key.bytes, 0, crypto::bytePointer(password), password.size(), crypto::bytePointer(salt),
        salt.size(), CryptoService::kIterations, 0.0);
}

void deriveOpenSsl(Key& key)
{
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), crypto::bytePointer(salt),
                          static_cast<int>(salt.size()), static_cast<int>(CryptoService::kIterations), EVP_sha256(),
                          static_cast<int>(sizeof key.bytes), key.bytes) != 1) {
        throw std::runtime_error("OpenSSL PBKDF2 failed");
    }
}

void deriveOurs(Key& key, const std::string& withSalt)
{
    crypto::pbkdf2HmacSha256(password, withSalt, CryptoService::kIterations, key.bytes, sizeof key.bytes);
}

void derivePair(PairStrategy how, Key& first, Key& second)
{
    switch (how) {
    case PairStrategy::OneAfterTheOther:
        deriveOurs(first, salt);
        deriveOurs(second, otherSalt);
        break;
    case PairStrategy::Interleaved:
        crypto::pbkdf2HmacSha256Pair(password, salt, otherSalt, CryptoService::kIterations, first.bytes,
                                     second.bytes, sizeof first.bytes);
        break;
    case PairStrategy::TwoThreads: {
        std::thread helper([&second] { deriveOurs(second, otherSalt); });
        deriveOurs(first, salt);
        helper.join();
        break;
    }
    }
}

void checkKey(const Key& key)
{
    if (key.bytes[0] == 0 && std::memcmp(key.bytes, key.bytes + 1, sizeof key.bytes - 1) == 0) {
        throw std::logic_error("no key derived");
    }
}

} // namespace

double dependentCompressionNanoseconds(double seconds)
{
    constexpr long kBatch = 20000;
    alignas(16) CryptoPP::word32 initial[8];
    alignas(16) CryptoPP::word32 state[8];
    alignas(16) CryptoPP::word32 block[16] = {};
    CryptoPP::SHA256::InitState(initial);
    // Each compression's message is the digest before it, as in a PBKDF2 iteration.
    const double batches = callsPerSecond(seconds, [&] {
        for (long i = 0; i < kBatch; ++i) {
            std::memcpy(state, initial, sizeof state);
            CryptoPP::SHA256::Transform(state, block);
            std::memcpy(block, state, sizeof state);
        }
    });
    if (block[0] == 0 && block[1] == 0) {
        throw std::logic_error("no compression");
    }
    return 1e9 / (batches * kBatch);
}

double derivationsPerSecond(Derivation how, int callers, double seconds)
{
    return callsPerSecond(seconds, callers, [how] {
        Key key{};
        switch (how) {
        case Derivation::Cryptopp:
            deriveCryptopp(key);
            break;
        case Derivation::Ours:
            deriveOurs(key, salt);
            break;
        case Derivation::OpenSsl:
            deriveOpenSsl(key);
            break;
        }
        checkKey(key);
    });
}

double derivationPairsPerSecond(PairStrategy how, int callers, double seconds)
{
    return callsPerSecond(seconds, callers, [how] {
        Key first{};
        Key second{};
        derivePair(how, first, second);
        checkKey(first);
        checkKey(second);
    });
}

} // namespace quillon::bench
