#pragma once

#include <cstdint>

namespace quillon::jni {

// Wall-clock milliseconds since 1601-01-01 00:00:00 UTC.
std::int64_t wallClockMilliseconds();

} // namespace quillon::jni
