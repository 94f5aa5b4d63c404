// The status a service publishes (run/<service>/status): the seven values of
// SERVICE_STATUS and the process that published them, identified by pid and
// start time so that a reused pid is never taken for the service.
#pragma once

#include "platform/win32_service.h"

#include <optional>
#include <string>
#include <sys/types.h>

namespace quillon::advapi32 {

struct ProcessId {
    pid_t pid = 0;
    unsigned long long startTime = 0; // /proc/<pid>/stat field 22
};

struct PublishedStatus {
    SERVICE_STATUS status {};
    ProcessId process;
};

// The start time of a live process; nullopt when there is none by that pid
// or it is a zombie.
std::optional<unsigned long long> processStartTime(pid_t pid);
bool isAlive(const ProcessId& process);
ProcessId currentProcess();

std::optional<PublishedStatus> readPublishedStatus(const std::string& runDir);
// Returns 0 or an errno value.
int writePublishedStatus(const std::string& runDir, const PublishedStatus& published);

// What QueryServiceStatus reports: the published status while its process
// lives; SERVICE_STOPPED with ERROR_PROCESS_ABORTED when the process died
// without reporting stopped; SERVICE_STOPPED with ERROR_SERVICE_NEVER_STARTED
// for a service that never ran.
SERVICE_STATUS effectiveStatus(const std::string& runDir, DWORD configuredType);

} // namespace quillon::advapi32
