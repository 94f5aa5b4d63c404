#include "hardware_sources.h"
#include "wmi_steps.h"

namespace quillon::identity {

std::string querySystemUuid()
{
    try {
        ComRef<IWbemServices> services = connectCimv2();
        return queryLastValue(*services, "SELECT UUID FROM Win32_ComputerSystemProduct", "UUID");
    } catch (const ComError&) {
        return {};
    }
}

std::string queryBootDiskSerial()
{
    try {
        ComRef<IWbemServices> services = connectCimv2();
        const std::string index =
            queryLastValue(*services, "SELECT Index FROM win32_diskpartition where BootPartition=true", "Index");
        if (index.empty()) {
            return {};
        }
        // The partition's own index is taken as the disk's, as it always was:
        // identities already given out depend on it.
        return queryLastValue(*services, "SELECT SerialNumber FROM win32_diskdrive where index=" + index,
                              "SerialNumber");
    } catch (const ComError&) {
        return {};
    }
}

} // namespace quillon::identity
