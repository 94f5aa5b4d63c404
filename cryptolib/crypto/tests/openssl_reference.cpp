#include "openssl_reference.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <memory>
#include <stdexcept>

namespace quillon::crypto::reference {

namespace {

const unsigned char* bytes(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

std::string runCipher(const EVP_CIPHER* cipher, bool encrypt, const std::string& key, const std::string& data)
{
    CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    const unsigned char zeroIv[16] = {};
    if (!context || EVP_CipherInit_ex(context.get(), cipher, nullptr, bytes(key), zeroIv, encrypt ? 1 : 0) != 1) {
        throw std::runtime_error("cipher init failed");
    }
    EVP_CIPHER_CTX_set_padding(context.get(), 0);
    std::string out(data.size() + 32, '\0');
    int written = 0;
    int last = 0;
    auto* outBytes = reinterpret_cast<unsigned char*>(out.data());
    if (EVP_CipherUpdate(context.get(), outBytes, &written, bytes(data), static_cast<int>(data.size())) != 1 ||
        EVP_CipherFinal_ex(context.get(), outBytes + written, &last) != 1) {
        throw std::runtime_error("cipher failed");
    }
    out.resize(static_cast<std::size_t>(written + last));
    return out;
}

std::string xorBytes(std::string a, const std::string& b)
{
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        a[i] = static_cast<char>(a[i] ^ b[i]);
    }
    return a;
}

} // namespace

std::string pbkdf2Sha256(const std::string& password, const std::string& salt, int iterations, std::size_t length)
{
    std::string out(length, '\0');
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), bytes(salt),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(), static_cast<int>(length),
                          reinterpret_cast<unsigned char*>(out.data())) != 1) {
        throw std::runtime_error("PBKDF2 failed");
    }
    return out;
}

std::string hmacSha256(const std::string& key, const std::string& data)
{
    std::string out(32, '\0');
    unsigned int length = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), bytes(data), data.size(),
         reinterpret_cast<unsigned char*>(out.data()), &length);
    out.resize(length);
    return out;
}

std::string aes256Ctr(const std::string& key, const std::string& data)
{
    return runCipher(EVP_aes_256_ctr(), true, key, data);
}

std::string aes256Cbc(const std::string& key, const std::string& data)
{
    return runCipher(EVP_aes_256_cbc(), true, key, data);
}

std::string aes256DecryptBlock(const std::string& key, const std::string& block)
{
    return runCipher(EVP_aes_256_ecb(), false, key, block);
}

std::string cs3Encrypt(const std::string& key, const std::string& data)
{
    const std::size_t n = data.size();
    const std::size_t lastLength = n % 16 == 0 ? 16 : n % 16;
    const std::size_t fullBlocks = (n - lastLength) / 16; // includes the second-to-last
    std::string chain(16, '\0');
    std::string out;
    for (std::size_t b = 0; b + 1 < fullBlocks; ++b) {
        chain = runCipher(EVP_aes_256_ecb(), true, key, xorBytes(data.substr(b * 16, 16), chain));
        out += chain;
    }
    const std::string penultimate =
        runCipher(EVP_aes_256_ecb(), true, key, xorBytes(data.substr((fullBlocks - 1) * 16, 16), chain));
    std::string finalPlain = data.substr(fullBlocks * 16);
    finalPlain.resize(16, '\0');
    const std::string finalCipher = runCipher(EVP_aes_256_ecb(), true, key, xorBytes(finalPlain, penultimate));
    return out + finalCipher + penultimate.substr(0, lastLength);
}

} // namespace quillon::crypto::reference
