#include "built_in_key.h"
#include "stored_key_texts.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

#include <ostream>

namespace quillon::crypto {
namespace {

using test::plain;

struct DecodeCase {
    const char* text;
    std::string expected;
};

// Readable test names: the text with control characters escaped.
void PrintTo(const DecodeCase& c, std::ostream* os)
{
    *os << '[';
    for (const char* p = c.text; *p != '\0'; ++p) {
        if (*p == '\n') {
            *os << "\\n";
        } else {
            *os << *p;
        }
    }
    *os << ']';
}

class DecodeBase64 : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeBase64, DecodesUpToTheFirstNonAlphabetCharacter)
{
    EXPECT_EQ(plain(decodeBase64(GetParam().text)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeBase64,
    ::testing::Values(
        DecodeCase{"", ""},
        DecodeCase{"TWFu", "Man"},                              // 4k
        DecodeCase{"TWFuT", "Man"},                             // 4k+1: leftover emits nothing
        DecodeCase{"TWFuTW", "ManM"},                           // 4k+2
        DecodeCase{"TWFuTWF", "ManMa"},                         // 4k+3
        DecodeCase{"TWFuTWFu", "ManMan"},                       // 8 characters
        DecodeCase{"TW==", "M"},                                // standard padding
        DecodeCase{"TW=FuTWFu", "M"},                           // stops at "=" even with characters after it
        DecodeCase{"TWFu TWFu", "Man"},                         // stops at a foreign character
        DecodeCase{"TWF\nu", "Ma"},
        DecodeCase{"=TWFu", ""},
        DecodeCase{"-_", ""},                                   // URL-safe alphabet is foreign
        DecodeCase{"+/+/", std::string("\xfb\xff\xbf", 3)},
        DecodeCase{"AAAA", std::string(3, '\0')},
        DecodeCase{"////", "\xff\xff\xff"}));

TEST(DecodeBase64Length, FollowsTheCharacterCount)
{
    for (std::size_t k = 0; k < 4; ++k) {
        const std::string base(4 * k, 'Q');
        EXPECT_EQ(decodeBase64(base).size(), 3 * k);
        EXPECT_EQ(decodeBase64(base + "Q").size(), 3 * k);
        EXPECT_EQ(decodeBase64(base + "QQ").size(), 3 * k + 1);
        EXPECT_EQ(decodeBase64(base + "QQQ").size(), 3 * k + 2);
    }
}

TEST(Descramble, SubtractsSeventyTwoAndAddsThePosition)
{
    EXPECT_EQ(plain(descramble(std::string(1, 72))), std::string(1, '\0'));
    EXPECT_EQ(plain(descramble(std::string(1, '\0'))), std::string(1, static_cast<char>(184)));
    EXPECT_EQ(static_cast<unsigned char>(descramble(std::string(11, 72))[10]), 10);
    EXPECT_TRUE(descramble("").empty());

    // The position enters with its low 8 bits.
    const auto long_ = descramble(std::string(300, 72));
    ASSERT_EQ(long_.size(), 300u);
    EXPECT_EQ(static_cast<unsigned char>(long_[255]), 255);
    EXPECT_EQ(static_cast<unsigned char>(long_[256]), 0);
    EXPECT_EQ(static_cast<unsigned char>(long_[299]), 43);
}

TEST(FitKeyLength, CutsOrFillsToThirtyTwoBytes)
{
    const std::string input = test::patternBytes(41);
    EXPECT_EQ(plain(fitKeyLength(input)), input.substr(0, 32));
    EXPECT_EQ(plain(fitKeyLength(input.substr(0, 5))), input.substr(0, 5) + std::string(27, '\0'));
    EXPECT_EQ(plain(fitKeyLength(input.substr(0, 32))), input.substr(0, 32));
    EXPECT_EQ(plain(fitKeyLength("")), std::string(32, '\0'));
}

TEST(BuiltInKey, IsTheFirstThirtyTwoDescrambledBytesOfEachStoredText)
{
    for (const auto text : {storedKeyText1, storedKeyText2}) {
        const auto descrambled = plain(descramble(viewOf(decodeBase64(text))));
        EXPECT_GE(descrambled.size(), 37u);
        EXPECT_EQ(plain(builtInKey(text)), descrambled.substr(0, 32));
    }
    EXPECT_NE(plain(builtInKey(storedKeyText1)), plain(builtInKey(storedKeyText2)));
}

} // namespace
} // namespace quillon::crypto
