// The fixtures set through platform/testing/kernel32_seam.h, as the layer's
// own calls read them. Only the test build of these sources
// (quillon_kernel32_fixtures, QUILLON_KERNEL32_FIXTURES) has fixtures; the
// shipped libraries answer from the machine and carry no test code.
#pragma once

#include "platform/testing/kernel32_seam.h"

namespace quillon::linux_kernel32 {

#ifdef QUILLON_KERNEL32_FIXTURES
std::optional<testing::VmGenerationCounterFixture> vmGenerationCounterFixture();
std::optional<testing::SystemVolumeFixture> systemVolumeFixture();
void noteVolumeRootAsked(const std::string& root);
#else
inline std::optional<testing::VmGenerationCounterFixture> vmGenerationCounterFixture()
{
    return std::nullopt;
}
inline std::optional<testing::SystemVolumeFixture> systemVolumeFixture()
{
    return std::nullopt;
}
inline void noteVolumeRootAsked(const std::string&) {}
#endif

} // namespace quillon::linux_kernel32
