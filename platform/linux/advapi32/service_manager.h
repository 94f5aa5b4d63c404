// Shared steps of the service manager's entry points.
#pragma once

#include "registry.h"
#include "sc_handles.h"
#include "state_dir.h"

#include <optional>
#include <string>

namespace quillon::advapi32 {

// Names of services: 1..256 characters, no slash or backslash.
bool isValidServiceName(const std::string& name);

// The state directory of a handle, opened and checked anew; nullopt with the
// last error set.
std::optional<StateRoot> openHandleState(const HandleInfo& handle);

// The entry behind a service handle, with the last error set when it is gone.
std::optional<ServiceConfig> loadForHandle(const Registry& registry, const HandleInfo& handle);

// The service as QueryServiceStatus reports it.
SERVICE_STATUS currentStatus(const Registry& registry, const std::string& name);

// Removes an entry marked for deletion once its service no longer runs; the
// caller holds the service's start lock and the registry lock. True when it
// was removed.
bool purgeIfStopped(const Registry& registry, const ServiceConfig& config);

} // namespace quillon::advapi32
