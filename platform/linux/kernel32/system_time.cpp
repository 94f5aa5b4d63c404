#include "platform/win32_base.h"

#include <ctime>

namespace {
// 100-ns intervals between 1601-01-01 and 1970-01-01 (UTC).
constexpr ULONGLONG kUnixEpochAsFileTime = 116444736000000000ULL;

void realTimeAsFileTime(LPFILETIME time)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const ULONGLONG ticks = kUnixEpochAsFileTime +
                            static_cast<ULONGLONG>(now.tv_sec) * 10000000ULL +
                            static_cast<ULONGLONG>(now.tv_nsec) / 100ULL;
    time->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFULL);
    time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}
} // namespace

// Linux has one real-time clock at full resolution: both calls read it.
extern "C" void GetSystemTimeAsFileTime(LPFILETIME time)
{
    realTimeAsFileTime(time);
}

extern "C" void GetSystemTimePreciseAsFileTime(LPFILETIME time)
{
    realTimeAsFileTime(time);
}
