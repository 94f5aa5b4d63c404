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

namespace {

constexpr long kCompressionBatch = 20000;

// A batch of compressions, each one's message the digest before it, as in a
// PBKDF2 iteration.
class CompressionChain {
public:
    CompressionChain() { CryptoPP::SHA256::InitState(initial_); }

    void operator()()
    {
        for (long i = 0; i < kCompressionBatch; ++i) {
            std::memcpy(state_, initial_, sizeof state_);
            CryptoPP::SHA256::Transform(state_, block_);
            std::memcpy(block_, state_, sizeof state_);
        }
        if (block_[0] == 0 && block_[1] == 0) {
            throw std::logic_error("no compression");
        }
    }

private:
    alignas(16) CryptoPP::word32 initial_[8];
    alignas(16) CryptoPP::word32 state_[8];
    alignas(16) CryptoPP::word32 block_[16] = {};
};

void derive(Derivation how)
{
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
}

void derivePairOf(PairStrategy how)
{
    Key first{};
    Key second{};
    derivePair(how, first, second);
    checkKey(first);
    checkKey(second);
}

} // namespace

double dependentCompressionNanoseconds(double seconds)
{
    CompressionChain chain;
    return 1e9 / (callsPerSecond(seconds, chain) * kCompressionBatch);
}

double dependentCompressionThreadNanoseconds(double seconds)
{
    CompressionChain chain;
    return threadSecondsPerCall(seconds, chain) * 1e9 / kCompressionBatch;
}

double derivationsPerSecond(Derivation how, int callers, double seconds)
{
    return callsPerSecond(seconds, callers, [how] { derive(how); });
}

double derivationThreadMilliseconds(Derivation how, double seconds)
{
    return threadSecondsPerCall(seconds, [how] { derive(how); }) * 1e3;
}

double derivationPairsPerSecond(PairStrategy how, int callers, double seconds)
{
    return callsPerSecond(seconds, callers, [how] { derivePairOf(how); });
}

double derivationPairThreadMilliseconds(PairStrategy how, double seconds)
{
    return threadSecondsPerCall(seconds, [how] { derivePairOf(how); }) * 1e3;
}

} // namespace quillon::bench
