#include "crypto_service.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace quillon::crypto {
namespace {

TEST(KeyGeneration, UppercaseHexOfTheAllowedLengthsAndDifferentEachTime)
{
    CryptoService service;
    std::string previous;
    for (int i = 0; i < 12; ++i) {
        const std::string text = test::plain(service.generateKeyText());
        EXPECT_GE(text.size(), 768u);
        EXPECT_LE(text.size(), 1572u);
        EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string::npos) << text;
        EXPECT_NE(text.substr(0, 768), previous.substr(0, 768));
        previous = text;
    }
}

TEST(KeyGeneration, LengthsRepeatWhenTheGeneratorIsReseeded)
{
    CryptoService service;
    auto lengths = [&service] {
        std::vector<std::size_t> out;
        for (int i = 0; i < 5; ++i) {
            out.push_back(service.generateKeyText().size());
        }
        return out;
    };
    std::srand(12345);
    const auto first = lengths();
    std::srand(12345);
    EXPECT_EQ(lengths(), first);

    // The length is the generator's next value, spread over 768..1572.
    std::srand(777);
    const int expected = std::rand() % 805 + 768;
    std::srand(777);
    EXPECT_EQ(service.generateKeyText().size(), static_cast<std::size_t>(expected));
}

} // namespace
} // namespace quillon::crypto
