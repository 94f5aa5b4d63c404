#include "reference.h"

#include <openssl/crypto.h>
#include <openssl/hmac.h>

#include <cstdlib>

namespace quillon::crypto::fuzz::reference {

namespace {

constexpr std::size_t kBlock = 16;
constexpr int kIterations = 10000;
constexpr std::size_t kSalt = 20;
constexpr std::size_t kTag = 32;

const unsigned char* unsignedBytes(std::string_view bytes)
{
    return reinterpret_cast<const unsigned char*>(bytes.data());
}

// OpenSSL failing on valid arguments is a broken reference: stop.
void require(bool ok)
{
    if (!ok) {
        std::abort();
    }
}

EVP_CIPHER_CTX* blockContext(std::string_view key, bool encrypt)
{
    require(key.size() == 32);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    require(context != nullptr &&
            EVP_CipherInit_ex(context, EVP_aes_256_ecb(), nullptr, unsignedBytes(key), nullptr, encrypt ? 1 : 0) == 1);
    EVP_CIPHER_CTX_set_padding(context, 0);
    return context;
}

std::string oneBlock(EVP_CIPHER_CTX* context, std::string_view block)
{
    require(block.size() == kBlock);
    std::string out(kBlock, '\0');
    int written = 0;
    require(EVP_CipherUpdate(context, reinterpret_cast<unsigned char*>(out.data()), &written, unsignedBytes(block),
                             static_cast<int>(kBlock)) == 1 &&
            written == static_cast<int>(kBlock));
    return out;
}

std::string exclusiveOr(std::string_view a, std::string_view b)
{
    std::string out(a);
    for (std::size_t i = 0; i < out.size() && i < b.size(); ++i) {
        out[i] = static_cast<char>(out[i] ^ b[i]);
    }
    return out;
}

} // namespace

AesBlocks::AesBlocks(std::string_view key) : encryption_(blockContext(key, true)), decryption_(blockContext(key, false))
{
}

AesBlocks::~AesBlocks()
{
    EVP_CIPHER_CTX_free(encryption_);
    EVP_CIPHER_CTX_free(decryption_);
}

std::string AesBlocks::encrypt(std::string_view block) const
{
    return oneBlock(encryption_, block);
}

std::string AesBlocks::decrypt(std::string_view block) const
{
    return oneBlock(decryption_, block);
}

// n = 16 (m - 1) + d bytes, 1 <= d <= 16: blocks P0 .. P(m-2) are whole, the
// final one has d bytes. Plain CBC up to C(m-2); the final block, filled up
// with zeros, is chained on C(m-2); out: C0 .. C(m-3), C(m-1), the first d
// bytes of C(m-2).
std::string cs3Encrypt(const AesBlocks& aes, std::string_view data)
{
    require(data.size() > kBlock);
    const std::size_t wholeBlocks = (data.size() - 1) / kBlock;
    const std::size_t finalLength = data.size() - wholeBlocks * kBlock;
    std::string ciphertext;
    std::string chain(kBlock, '\0');
    for (std::size_t i = 0; i < wholeBlocks; ++i) {
        chain = aes.encrypt(exclusiveOr(data.substr(i * kBlock, kBlock), chain));
        ciphertext += chain; // C(m-2) last
    }
    std::string finalBlock(data.substr(wholeBlocks * kBlock));
    finalBlock.resize(kBlock, '\0');
    const std::string stolenFrom = ciphertext.substr(ciphertext.size() - kBlock);
    ciphertext.resize(ciphertext.size() - kBlock);
    return ciphertext + aes.encrypt(exclusiveOr(finalBlock, stolenFrom)) + stolenFrom.substr(0, finalLength);
}

// The inverse: the whole block after C(m-3) decrypts to the final plaintext
// block (filled up with zeros) XOR C(m-2), which gives back the bytes of
// C(m-2) that were left out.
std::string cs3Decrypt(const AesBlocks& aes, std::string_view data)
{
    require(data.size() > kBlock);
    const std::size_t wholeBlocks = (data.size() - 1) / kBlock;
    const std::size_t finalLength = data.size() - wholeBlocks * kBlock;
    const std::size_t lead = (wholeBlocks - 1) * kBlock; // C0 .. C(m-3)
    const std::string mixed = aes.decrypt(data.substr(lead, kBlock));
    const std::string_view stolenPart = data.substr(lead + kBlock, finalLength);
    const std::string penultimate = std::string(stolenPart) + mixed.substr(finalLength);

    std::string plain;
    std::string chain(kBlock, '\0');
    for (std::size_t offset = 0; offset < lead; offset += kBlock) {
        const std::string_view block = data.substr(offset, kBlock);
        plain += exclusiveOr(aes.decrypt(block), chain);
        chain = std::string(block);
    }
    plain += exclusiveOr(aes.decrypt(penultimate), chain);
    plain += exclusiveOr(mixed.substr(0, finalLength), stolenPart);
    return plain;
}

std::string pbkdf2(std::string_view password, std::string_view salt)
{
    std::string key(32, '\0');
    require(PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), unsignedBytes(salt),
                              static_cast<int>(salt.size()), kIterations, EVP_sha256(), static_cast<int>(key.size()),
                              reinterpret_cast<unsigned char*>(key.data())) == 1);
    return key;
}

std::string hmacSha256(std::string_view key, std::string_view data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    require(HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), unsignedBytes(data), data.size(), digest,
                 &length) != nullptr);
    return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string counterMode(std::string_view key, std::string_view data)
{
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    const unsigned char zeroCounter[kBlock] = {};
    std::string out(data.size(), '\0');
    int written = 0;
    require(context != nullptr &&
            EVP_EncryptInit_ex(context, EVP_aes_256_ctr(), nullptr, unsignedBytes(key), zeroCounter) == 1 &&
            EVP_EncryptUpdate(context, reinterpret_cast<unsigned char*>(out.data()), &written, unsignedBytes(data),
                              static_cast<int>(data.size())) == 1 &&
            written == static_cast<int>(data.size()));
    EVP_CIPHER_CTX_free(context);
    return out;
}

std::optional<std::string> openSealed(std::string_view sealed, std::string_view password)
{
    if (sealed.size() <= 2 * kSalt + kTag) {
        return std::nullopt;
    }
    const std::string_view ciphertext = sealed.substr(2 * kSalt, sealed.size() - 2 * kSalt - kTag);
    const std::string tag = hmacSha256(pbkdf2(password, sealed.substr(kSalt, kSalt)), ciphertext);
    if (CRYPTO_memcmp(tag.data(), sealed.data() + sealed.size() - kTag, kTag) != 0) {
        return std::nullopt;
    }
    return counterMode(pbkdf2(password, sealed.substr(0, kSalt)), ciphertext);
}

} // namespace quillon::crypto::fuzz::reference
