#pragma once

#include <cstdint>

namespace quillon::jni {

// Wall-clock milliseconds since 1601-01-01 00:00:00 UTC.
std::int64_t wallClockMilliseconds();

// A FILETIME count (100 ns since 1601) in whole milliseconds, computed in
// double precision and truncated toward zero.
std::int64_t fileTimeToMilliseconds(std::uint64_t ticks);

} // namespace quillon::jni
