// The facts the machine identity is made of. Each source returns narrow
// 8-bit text, empty when its fact cannot be had; none throws for a failure of
// the machine (only a failed allocation can leave them).
#pragma once

#include <cstdint>
#include <string>

namespace quillon::identity {

// The processor's vendor identification (CPUID leaf 0), normally 12
// characters; empty when its first byte is zero.
std::string readCpuVendor();

// The 16 bytes the virtual machine generation counter device returns.
struct VmGenerationCounterReading {
    std::uint64_t generationLow;
    std::uint64_t generationHigh;
};

// "<low>:<high>" in lowercase hexadecimal without leading zeros.
std::string formatVmGenerationId(const VmGenerationCounterReading& reading);

// The generation identifier of the virtual machine, when a counter device
// answers.
std::string readVmGenerationId();

// WMI: the UUID of Win32_ComputerSystemProduct. Needs COM on the thread.
std::string querySystemUuid();

// WMI: the SerialNumber of the disk drive whose index is that of the last
// boot partition listed. Needs COM on the thread.
std::string queryBootDiskSerial();

// The root ("X:\") of the drive that holds the Windows directory.
std::string systemDriveRoot();

// "hhhh-hhhh", the lowercase hexadecimal halves of a volume serial number.
std::string formatVolumeSerial(std::uint32_t serial);

// The serial number of the volume at systemDriveRoot.
std::string readSystemVolumeSerial();

} // namespace quillon::identity
