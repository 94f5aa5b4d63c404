#include "openssl_reference.h"
#include "pbkdf2_sha256.h"
#include "test_bytes.h"

#include <cryptopp/cpu.h>
#include <cryptopp/pwdbased.h>
#include <cryptopp/sha.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace quillon::crypto {
namespace {

using test::patternBytes;

std::string cryptoppPbkdf2(const std::string& password, const std::string& salt, unsigned iterations,
                           std::size_t length)
{
    std::string out(length, '\0');
    CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA256>().DeriveKey(
        reinterpret_cast<CryptoPP::byte*>(out.data()), length, 0, bytePointer(password), password.size(),
        bytePointer(salt), salt.size(), iterations, 0.0);
    return out;
}

std::string ours(const std::string& password, const std::string& salt, unsigned iterations, std::size_t length)
{
    std::string out(length, '\0');
    pbkdf2HmacSha256(password, salt, iterations, reinterpret_cast<CryptoPP::byte*>(out.data()), length);
    return out;
}

std::pair<std::string, std::string> oursPair(const std::string& password, const std::string& first,
                                             const std::string& second, unsigned iterations, std::size_t length)
{
    std::string a(length, '\0');
    std::string b(length, '\0');
    pbkdf2HmacSha256Pair(password, first, second, iterations, reinterpret_cast<CryptoPP::byte*>(a.data()),
                         reinterpret_cast<CryptoPP::byte*>(b.data()), length);
    return {a, b};
}

// Runs the check on every SHA-256 path Crypto++'s transform can take here:
// SHA-NI where the processor has it, and the portable code, which Crypto++
// picks when its feature flag says the instructions are missing.
template <typename Check>
void onEveryTransformPath(Check&& check)
{
#if CRYPTOPP_BOOL_X86 || CRYPTOPP_BOOL_X64
    const bool hasShaNi = CryptoPP::HasSHA();
    {
        SCOPED_TRACE(hasShaNi ? "SHA-NI" : "no SHA-NI on this processor");
        check();
    }
    if (hasShaNi) {
        SCOPED_TRACE("portable transform");
        CryptoPP::g_hasSHA = false;
        check();
        CryptoPP::g_hasSHA = true;
    }
#else
    check();
#endif
}

using TableCase = std::tuple<std::size_t, std::size_t, unsigned>; // password, salt, iterations

class Pbkdf2Table : public ::testing::TestWithParam<TableCase> {};

// Passwords around the 64-byte block (longer ones are hashed first), salts
// empty, the library's own 20 bytes and a whole block.
TEST_P(Pbkdf2Table, MatchesCryptoppAndOpenSsl)
{
    const auto [passwordLength, saltLength, iterations] = GetParam();
    const std::string password = patternBytes(passwordLength, 11);
    const std::string salt = patternBytes(saltLength, 23);
    const std::string otherSalt = patternBytes(saltLength, 29);
    const std::string expected = reference::pbkdf2Sha256(password, salt, static_cast<int>(iterations), 32);
    const std::string otherExpected = reference::pbkdf2Sha256(password, otherSalt, static_cast<int>(iterations), 32);
    ASSERT_EQ(cryptoppPbkdf2(password, salt, iterations, 32), expected);

    onEveryTransformPath([&] {
        EXPECT_EQ(ours(password, salt, iterations, 32), expected);
        const auto [first, second] = oursPair(password, salt, otherSalt, iterations, 32);
        EXPECT_EQ(first, expected);
        if (saltLength > 0) {
            EXPECT_EQ(second, otherExpected);
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Table, Pbkdf2Table,
                         ::testing::Combine(::testing::Values(0, 1, 63, 64, 65, 200), ::testing::Values(0, 20, 64),
                                            ::testing::Values(1u, 2u, 10000u)),
                         [](const ::testing::TestParamInfo<TableCase>& c) {
                             return "password" + std::to_string(std::get<0>(c.param)) + "_salt" +
                                    std::to_string(std::get<1>(c.param)) + "_iterations" +
                                    std::to_string(std::get<2>(c.param));
                         });

// Output of more than one digest: each 32-byte block has its own counter.
TEST(Pbkdf2Lengths, EveryOutputLengthMatchesOpenSsl)
{
    const std::string password = patternBytes(10, 3);
    const std::string salt = patternBytes(20, 4);
    const std::string otherSalt = patternBytes(20, 5);
    for (const std::size_t length : {1u, 31u, 33u, 64u, 100u}) {
        const std::string expected = reference::pbkdf2Sha256(password, salt, 3, length);
        EXPECT_EQ(ours(password, salt, 3, length), expected) << length;
        const auto [first, second] = oursPair(password, salt, otherSalt, 3, length);
        EXPECT_EQ(first, expected) << length;
        EXPECT_EQ(second, reference::pbkdf2Sha256(password, otherSalt, 3, length)) << length;
    }
}

} // namespace
} // namespace quillon::crypto
