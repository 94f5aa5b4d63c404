#include "hardware_sources.h"
#include "wmi_steps.h"

#include "platform/wmi_queries.h"

namespace quillon::identity {

namespace wmi = platform::wmi;

std::string querySystemUuid()
{
    try {
        ComRef<IWbemServices> services = connectCimv2();
        return queryLastValue(*services, wmi::kSystemUuidQuery, wmi::kSystemUuidProperty);
    } catch (const ComError&) {
        return {};
    }
}

std::string queryBootDiskSerial()
{
    try {
        ComRef<IWbemServices> services = connectCimv2();
        const std::string index = queryLastValue(*services, wmi::kBootPartitionQuery, wmi::kBootPartitionProperty);
        if (index.empty()) {
            return {};
        }
        // The partition's own index is taken as the disk's, as it always was:
        // identities already given out depend on it.
        return queryLastValue(*services, wmi::kDriveSerialQueryPrefix + index, wmi::kDriveSerialProperty);
    } catch (const ComError&) {
        return {};
    }
}

} // namespace quillon::identity
