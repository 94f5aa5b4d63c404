#include "hardware_sources.h"

#include <cpuid.h>

namespace quillon::identity {

std::string readCpuVendor()
{
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    __cpuid_count(0, 0, eax, ebx, ecx, edx);

    char vendor[13] = {};
    int at = 0;
    for (const unsigned int word : {ebx, edx, ecx}) {
        for (int shift = 0; shift < 32; shift += 8) {
            vendor[at++] = static_cast<char>((word >> shift) & 0xFF);
        }
    }
    return std::string(vendor); // up to the first zero byte
}

} // namespace quillon::identity
