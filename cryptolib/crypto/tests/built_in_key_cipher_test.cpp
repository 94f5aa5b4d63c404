#include "built_in_key.h"
#include "crypto_service.h"
#include "openssl_reference.h"
#include "stored_key_texts.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

namespace quillon::crypto {
namespace {

using test::keyOf;
using test::patternBytes;
using test::plain;

class BuiltInKeyCipher : public ::testing::TestWithParam<std::size_t> {
protected:
    CryptoService service;
    const CryptoPP::SecByteBlock keys[2] = {builtInKey(storedKeyText1), builtInKey(storedKeyText2)};
};

TEST_P(BuiltInKeyCipher, MatchesAnIndependentCs3AndRoundTrips)
{
    for (const auto& key : keys) {
        const std::string data = patternBytes(GetParam(), static_cast<unsigned>(GetParam()));
        const std::string ciphertext = plain(service.encryptWithKey(data, key));
        EXPECT_EQ(ciphertext, reference::cs3Encrypt(plain(key), data));
        EXPECT_EQ(plain(service.decryptWithKey(ciphertext, key)), data);
        // Deterministic: no salt, fixed IV.
        EXPECT_EQ(plain(service.encryptWithKey(data, key)), ciphertext);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, BuiltInKeyCipher,
                         ::testing::Values(17, 31, 32, 33, 47, 48, 49, 100, 4096, 4099));

TEST(BuiltInKeyCipherLayout, MultipleOfSixteenIsCbcWithTheLastTwoBlocksSwapped)
{
    CryptoService service;
    const auto key = builtInKey(storedKeyText1);
    for (const std::size_t length : {32u, 48u, 160u}) {
        const std::string data = patternBytes(length);
        const std::string cbc = reference::aes256Cbc(plain(key), data);
        const std::string swapped = cbc.substr(0, length - 32) + cbc.substr(length - 16) + cbc.substr(length - 32, 16);
        EXPECT_EQ(plain(service.encryptWithKey(data, key)), swapped) << length;
    }
}

// Ciphertext stealing cannot encrypt a single block or less; the mode must
// never see such data, or it dereferences an unset pointer.
TEST(BuiltInKeyCipherShortData, EncryptionRefusesOneToSixteenBytesAndEmpty)
{
    CryptoService service;
    const auto key = builtInKey(storedKeyText2);
    for (std::size_t length = 0; length <= 16; ++length) {
        EXPECT_TRUE(service.encryptWithKey(patternBytes(length), key).empty()) << length;
    }
}

TEST(BuiltInKeyCipherShortData, DecryptionXorsWithTheDecryptedZeroBlock)
{
    CryptoService service;
    for (const auto text : {storedKeyText1, storedKeyText2}) {
        const auto key = builtInKey(text);
        const std::string keyStream = reference::aes256DecryptBlock(plain(key), std::string(16, '\0'));
        EXPECT_TRUE(service.decryptWithKey("", key).empty());
        for (std::size_t length = 1; length <= 16; ++length) {
            std::string expected = patternBytes(length);
            const std::string data = expected;
            for (std::size_t i = 0; i < length; ++i) {
                expected[i] = static_cast<char>(expected[i] ^ keyStream[i]);
            }
            EXPECT_EQ(plain(service.decryptWithKey(data, key)), expected) << length;
        }
    }
}

TEST(BuiltInKeyCipherForeignData, DecryptsWithoutAnyIntegrityCheck)
{
    CryptoService service;
    const auto key = keyOf(patternBytes(32, 9));
    const std::string data = patternBytes(77, 3);
    EXPECT_EQ(service.decryptWithKey(data, key).size(), data.size());
}

} // namespace
} // namespace quillon::crypto
