// Test seam of the Linux kernel32 layer: lets tests stand in for the
// generation counter device, the Windows directory and the system volume,
// which this machine does not have or cannot vary. Without a fixture the
// layer answers from the machine. Linux only: the functions are defined by
// quillon_kernel32_fixtures, a build of the layer that only tests link.
#pragma once

#include "platform/win32_base.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quillon::linux_kernel32::testing {

// The generation counter device as a virtual machine offers it.
struct VmGenerationCounterFixture {
    std::uint64_t generationLow = 0;
    std::uint64_t generationHigh = 0;
    bool readFails = false; // the device opens, but DeviceIoControl fails
};
void setVmGenerationCounter(std::optional<VmGenerationCounterFixture> fixture);

// The Windows directory and the serial of the volume that holds it.
struct SystemVolumeFixture {
    std::optional<std::string> windowsDirectory; // none: the call fails
    std::optional<DWORD> volumeSerial;           // none: the volume call fails
};
void setSystemVolume(std::optional<SystemVolumeFixture> fixture);

// Handles of CreateFileW not yet closed, and the last root that
// GetVolumeInformationA was asked about.
int openDeviceHandles();
std::string lastVolumeRootAsked();

} // namespace quillon::linux_kernel32::testing
