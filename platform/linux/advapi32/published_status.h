// What the manager knows of a service's process, in its run folder:
//   instance  the process the manager started (pid and start time, so that a
//             reused pid is never taken for it), the start under way (the
//             starting process, until the service's is known), how its start
//             failed, or that it ended without reporting stopped; written by
//             the manager alone.
//   status    the status the service published. The manager makes the file
//             before each start and hands the new process a descriptor to
//             it; the process rewrites its one record in place. A service
//             under an account gets the file as its own (what it writes
//             there counts against it), and only the record at its start is
//             ever read.
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
// The manager's record of a process: its state and exit code.
int recordInstance(int runFolder, const ProcessId& process, DWORD type, DWORD state, DWORD exitCode);
// The one record at the start of the status file, a file of `statusOwner`
// (or of the state directory's `owner`, as a process an older version
// started still has it); whatever follows it is never read.
std::optional<PublishedStatus> readPublished(int runFolder, uid_t owner, uid_t statusOwner);

// The process started last is still alive (whatever it reported).
bool instanceAlive(int runFolder, uid_t owner);

// What QueryServiceStatus reports: the status the started process published
// while it lives; SERVICE_START_PENDING until it has published one (and
// while a start is under way); SERVICE_STOPPED with ERROR_PROCESS_ABORTED
// when it died without reporting stopped (then `endedUnreported` is set, when
// given, until the manager has recorded that); SERVICE_STOPPED with
// ERROR_SERVICE_NEVER_STARTED when none was ever started; a failed start as
// the manager recorded it.
SERVICE_STATUS effectiveStatus(int runFolder, uid_t owner, uid_t statusOwner, DWORD configuredType,
                               bool* endedUnreported = nullptr);

// Waits, without polling where the kernel can tell, until the process has
// ended or the deadline has passed; true when it has ended.
bool waitForExit(const ProcessId& process, Clock::time_point deadline);

} // namespace quillon::advapi32
