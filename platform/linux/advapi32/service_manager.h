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

// The owner of a service's status file: its account's user when root runs it
// under an account, else the state directory's owner.
uid_t statusOwner(const StateRoot& root, const ServiceConfig& config);

// The service as QueryServiceStatus reports it. A process found gone without
// having reported stopped is recorded as stopped with ERROR_PROCESS_ABORTED,
// with an error entry in the event log, once per death (by the state
// directory's owner, under the service's start lock: taken here when it is
// free at once, unless the caller says it holds it).
SERVICE_STATUS currentStatus(const Registry& registry, const std::string& name, bool startLockHeld = false);

// The recording above, for a caller that holds the start lock.
void recordUnexpectedEnd(const Registry& registry, int runFolder, const ServiceConfig& config);

// Removes an entry marked for deletion once its service no longer runs; the
// caller holds the service's start lock and the registry lock. True when it
// was removed.
bool purgeIfStopped(const Registry& registry, const ServiceConfig& config);

} // namespace quillon::advapi32
