#include "wall_clock.h"

#include "platform/win32_base.h"

namespace quillon::jni {

std::int64_t fileTimeToMilliseconds(std::uint64_t ticks)
{
    return static_cast<std::int64_t>(static_cast<double>(ticks) / 10000.0);
}

std::int64_t wallClockMilliseconds()
{
    FILETIME now{};
    // The 32-bit build reads the precise clock, the 64-bit build the plain one.
    if constexpr (sizeof(void*) == 8) {
        GetSystemTimeAsFileTime(&now);
    } else {
        GetSystemTimePreciseAsFileTime(&now);
    }
    return fileTimeToMilliseconds((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

} // namespace quillon::jni
