// The fixtures set through platform/testing/kernel32_seam.h, as the layer's
// own calls read them.
#pragma once

#include "platform/testing/kernel32_seam.h"

namespace quillon::linux_kernel32 {

std::optional<testing::VmGenerationCounterFixture> vmGenerationCounterFixture();
std::optional<testing::SystemVolumeFixture> systemVolumeFixture();
void noteVolumeRootAsked(const std::string& root);

} // namespace quillon::linux_kernel32
