// Prints what every identity source reports on this machine, one source a
// line as "<name> <hex of the bytes>" (hex, since the texts may hold any
// byte; "-" for empty text), and then "identity <text>".
#include "hardware_sources.h"
#include "machine_identity.h"

#include "platform/win32_com.h"

#include <cstdio>
#include <string>

namespace {

void print(const char* name, const std::string& text)
{
    std::printf("%s ", name);
    if (text.empty()) {
        std::printf("-");
    }
    for (const char c : text) {
        std::printf("%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    }
    std::printf("\n");
}

} // namespace

int main()
{
    using namespace quillon::identity;
    print("vendor", readCpuVendor());
    print("vmGenerationId", readVmGenerationId());
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    static_cast<void>(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr));
    print("systemUuid", querySystemUuid());
    print("bootDiskSerial", queryBootDiskSerial());
    if (SUCCEEDED(joined)) {
        CoUninitialize();
    }
    print("systemDriveRoot", systemDriveRoot());
    print("systemVolumeSerial", readSystemVolumeSerial());
    std::printf("identity %s\n", buildMachineIdentity().c_str());
    return 0;
}
