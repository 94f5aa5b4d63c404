// Shared steps of the service manager's entry points.
#pragma once

#include "registry.h"
#include "sc_handles.h"

#include <optional>
#include <string>

namespace quillon::advapi32 {

// Names of services: 1..256 characters, no slash or backslash.
bool isValidServiceName(const std::string& name);

// The entry behind a service handle, with the last error set when it is gone.
std::optional<ServiceConfig> loadForHandle(const HandleInfo& handle);

// Removes an entry marked for deletion once its service no longer runs;
// the caller holds the registry lock. True when it was removed.
bool purgeIfStopped(const Registry& registry, const ServiceConfig& config);

} // namespace quillon::advapi32
