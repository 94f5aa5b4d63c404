#include "wall_clock.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace quillon::jni {
namespace {

TEST(FileTimeToMilliseconds, TruncatesHundredNanosecondTicks)
{
    const struct {
        std::uint64_t ticks;
        std::int64_t milliseconds;
    } cases[] = {
        {0, 0},
        {9999, 0},
        {10000, 1},
        {19999, 1},
        {116444736000000000ULL, 11644473600000LL},           // 1970-01-01, the Unix epoch
        {116444736000000000ULL + 10000000ULL, 11644473601000LL}, // one second later
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fileTimeToMilliseconds(c.ticks), c.milliseconds) << c.ticks;
    }
}

} // namespace
} // namespace quillon::jni
