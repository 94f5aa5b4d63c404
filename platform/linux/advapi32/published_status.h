// What the manager knows of a service's process, in its run folder:
//   instance  the process the manager started (pid and start time, so that a
//             reused pid is never taken for it), or how its start failed;
//             written by the manager alone.
//   status    the status the service published. The manager makes the file
//             before each start and hands the new process a descriptor to
//             it; the process rewrites its one record in place.
#pragma once

#include "files.h"
#include "status_record.h"

#include <optional>

namespace quillon::advapi32 {

inline constexpr const char* kInstanceFile = "instance";
inline constexpr const char* kStatusFile = "status";

// The start time of a live process; nullopt when there is none by that pid
// or it is a zombie.
std::optional<unsigned long long> processStartTime(pid_t pid);
bool isAlive(const ProcessId& process);
ProcessId currentProcess();

std::optional<PublishedStatus> readInstance(int runFolder, uid_t owner);
int writeInstance(int runFolder, const PublishedStatus& instance);
std::optional<PublishedStatus> readPublished(int runFolder, uid_t owner);

// The process started last is still alive (whatever it reported).
bool instanceAlive(int runFolder, uid_t owner);

// What QueryServiceStatus reports: the status the started process published
// while it lives; SERVICE_START_PENDING until it has published one;
// SERVICE_STOPPED with ERROR_PROCESS_ABORTED when it died without reporting
// stopped; SERVICE_STOPPED with ERROR_SERVICE_NEVER_STARTED when none was
// ever started; a failed start as the manager recorded it.
SERVICE_STATUS effectiveStatus(int runFolder, uid_t owner, DWORD configuredType);

// Waits, without polling where the kernel can tell, until the process has
// ended or the deadline has passed; true when it has ended.
bool waitForExit(const ProcessId& process, Clock::time_point deadline);

} // namespace quillon::advapi32
