// How long the machine identity takes: identity computations per second
// (what one getit call costs, less the Java string), and the time of each
// source on its own.
#include "hardware_sources.h"
#include "machine_identity.h"

#include "platform/win32_com.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// Runs the work for about the given time and returns the calls per second.
template <typename Work>
double callsPerSecond(Work&& work, double seconds, std::size_t& sink)
{
    const auto start = Clock::now();
    const auto until = start + std::chrono::duration<double>(seconds);
    long calls = 0;
    do {
        sink += work().size();
        ++calls;
    } while (Clock::now() < until);
    return calls / std::chrono::duration<double>(Clock::now() - start).count();
}

void report(const char* name, double perSecond)
{
    std::printf("%-24s %12.0f calls/s %12.2f us/call\n", name, perSecond, 1e6 / perSecond);
}

} // namespace

int main(int argc, char** argv)
{
    using namespace quillon::identity;
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    std::size_t sink = 0;

    report("buildMachineIdentity", callsPerSecond(buildMachineIdentity, seconds, sink));
    report("readCpuVendor", callsPerSecond(readCpuVendor, seconds, sink));
    report("readVmGenerationId", callsPerSecond(readVmGenerationId, seconds, sink));

    const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    static_cast<void>(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr));
    report("querySystemUuid", callsPerSecond(querySystemUuid, seconds, sink));
    report("queryBootDiskSerial", callsPerSecond(queryBootDiskSerial, seconds, sink));
    if (SUCCEEDED(joined)) {
        CoUninitialize();
    }
    report("readSystemVolumeSerial", callsPerSecond(readSystemVolumeSerial, seconds, sink));
    report("sha256UpperHex (28 B)",
           callsPerSecond([] { return sha256UpperHex("GeniusIntelISADUMMYIDMAYBEVM"); }, seconds, sink));
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
