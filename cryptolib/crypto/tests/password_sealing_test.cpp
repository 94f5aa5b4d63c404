#include "crypto_service.h"
#include "openssl_reference.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

namespace quillon::crypto {
namespace {

using test::patternBytes;
using test::plain;

const std::string kPassword("pass\0word\xff", 10);

// Opens a sealed string with OpenSSL alone: the format byte for byte.
std::string openWithReference(const std::string& sealed, const std::string& password)
{
    const std::string ciphertext = sealed.substr(40, sealed.size() - 72);
    const std::string authKey = reference::pbkdf2Sha256(password, sealed.substr(20, 20), 10000, 32);
    EXPECT_EQ(reference::hmacSha256(authKey, ciphertext), sealed.substr(sealed.size() - 32));
    const std::string encKey = reference::pbkdf2Sha256(password, sealed.substr(0, 20), 10000, 32);
    return reference::aes256Ctr(encKey, ciphertext);
}

// Seals with OpenSSL alone, with the given salts.
std::string sealWithReference(const std::string& data, const std::string& password, const std::string& salts)
{
    const std::string ciphertext =
        reference::aes256Ctr(reference::pbkdf2Sha256(password, salts.substr(0, 20), 10000, 32), data);
    const std::string tag =
        reference::hmacSha256(reference::pbkdf2Sha256(password, salts.substr(20, 20), 10000, 32), ciphertext);
    return salts + ciphertext + tag;
}

class PasswordSealingSizes : public ::testing::TestWithParam<std::size_t> {
protected:
    CryptoService service;
};

TEST_P(PasswordSealingSizes, SealsInTheFormatBothWays)
{
    const std::string data = patternBytes(GetParam());
    const std::string sealed = plain(service.encryptWithPassword(data, kPassword));
    ASSERT_EQ(sealed.size(), data.size() + 72);
    EXPECT_EQ(openWithReference(sealed, kPassword), data);

    const std::string foreign = sealWithReference(data, kPassword, patternBytes(40, 7));
    EXPECT_EQ(plain(service.decryptWithPassword(foreign, kPassword)), data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PasswordSealingSizes, ::testing::Values(0, 1, 15, 16, 17, 100000));

TEST(PasswordSealing, EmptyDataSealsToSeventyTwoBytesThatOpenToNothing)
{
    CryptoService service;
    const auto sealed = service.encryptWithPassword("", kPassword);
    EXPECT_EQ(sealed.size(), 72u);
    EXPECT_TRUE(service.decryptWithPassword(viewOf(sealed), kPassword).empty());
}

TEST(PasswordSealing, RefusesShortInputAWrongPasswordAndAlteredBytes)
{
    CryptoService service;
    const std::string data = patternBytes(33);
    const std::string sealed = plain(service.encryptWithPassword(data, kPassword));

    EXPECT_TRUE(service.decryptWithPassword(sealed.substr(0, 72), kPassword).empty());
    EXPECT_TRUE(service.decryptWithPassword(std::string(72, 'x'), kPassword).empty());
    EXPECT_TRUE(service.decryptWithPassword(sealed, kPassword.substr(0, 9)).empty());
    EXPECT_TRUE(service.decryptWithPassword(sealed, "").empty());

    struct Region {
        const char* name;
        std::size_t offset;
        bool detected;
    };
    const Region regions[] = {
        {"encryption salt", 0, false},      {"encryption salt end", 19, false},
        {"authentication salt", 20, true},  {"authentication salt end", 39, true},
        {"ciphertext", 40, true},           {"ciphertext end", 72, true},
        {"tag", 73, true},                  {"tag end", 104, true},
    };
    for (const auto& region : regions) {
        std::string altered = sealed;
        altered[region.offset] = static_cast<char>(altered[region.offset] ^ 0x01);
        const std::string opened = plain(service.decryptWithPassword(altered, kPassword));
        if (region.detected) {
            EXPECT_TRUE(opened.empty()) << region.name;
        } else {
            EXPECT_EQ(opened.size(), data.size()) << region.name;
            EXPECT_NE(opened, data) << region.name;
        }
    }
}

TEST(PasswordSealing, UsesFreshSaltsAndTheWholePassword)
{
    CryptoService service;
    const std::string data("a\0b", 3);
    const std::string first = plain(service.encryptWithPassword(data, kPassword));
    const std::string second = plain(service.encryptWithPassword(data, kPassword));
    EXPECT_NE(first.substr(0, 40), second.substr(0, 40));
    EXPECT_NE(first.substr(0, 20), first.substr(20, 20));
    EXPECT_EQ(plain(service.decryptWithPassword(first, kPassword)), data);
    EXPECT_EQ(plain(service.decryptWithPassword(second, kPassword)), data);
    // The bytes after the zero byte of the password count.
    EXPECT_TRUE(service.decryptWithPassword(first, std::string("pass\0wordX", 10)).empty());

    const std::string emptyPassword = plain(service.encryptWithPassword(data, ""));
    EXPECT_EQ(plain(service.decryptWithPassword(emptyPassword, "")), data);
}

TEST(PasswordSealing, DerivesKeysAsPbkdf2HmacSha256)
{
    CryptoService service;
    const std::string salt = patternBytes(20, 5);
    EXPECT_EQ(plain(service.deriveKey(kPassword, salt, 10000, 32)),
              reference::pbkdf2Sha256(kPassword, salt, 10000, 32));
    EXPECT_EQ(plain(service.deriveKey("", salt, 3, 32)), reference::pbkdf2Sha256("", salt, 3, 32));
}

} // namespace
} // namespace quillon::crypto
