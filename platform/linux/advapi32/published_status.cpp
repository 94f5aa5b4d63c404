#include "published_status.h"

#include "files.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace quillon::advapi32 {

std::optional<unsigned long long> processStartTime(pid_t pid)
{
    if (pid <= 0)
        return std::nullopt;
    const auto stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    if (!stat)
        return std::nullopt;
    // The command name in parentheses may hold anything; fields follow the
    // last ')': state is field 3, start time field 22.
    const std::size_t close = stat->rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    const char* fields = stat->c_str() + close + 1;
    char state = 0;
    unsigned long long startTime = 0;
    const int matched = std::sscanf(fields,
                                    " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d "
                                    "%*d %*d %*d %*d %llu",
                                    &state, &startTime);
    if (matched != 2 || state == 'Z' || state == 'X' || state == 'x')
        return std::nullopt;
    return startTime;
}

bool isAlive(const ProcessId& process)
{
    const auto startTime = processStartTime(process.pid);
    return startTime && *startTime == process.startTime;
}

ProcessId currentProcess()
{
    ProcessId self;
    self.pid = ::getpid();
    self.startTime = processStartTime(self.pid).value_or(0);
    return self;
}

std::optional<PublishedStatus> readPublishedStatus(const std::string& runDir)
{
    const auto text = readFile(runDir + "/status");
    if (!text)
        return std::nullopt;
    PublishedStatus p;
    SERVICE_STATUS& s = p.status;
    long long pid = 0;
    const int matched = std::sscanf(
        text->c_str(),
        "pid=%lld startTime=%llu type=%u state=%u accepted=%u win32ExitCode=%u "
        "serviceExitCode=%u checkPoint=%u waitHint=%u",
        &pid, &p.process.startTime, &s.dwServiceType, &s.dwCurrentState, &s.dwControlsAccepted,
        &s.dwWin32ExitCode, &s.dwServiceSpecificExitCode, &s.dwCheckPoint, &s.dwWaitHint);
    if (matched != 9)
        return std::nullopt;
    p.process.pid = static_cast<pid_t>(pid);
    return p;
}

int writePublishedStatus(const std::string& runDir, const PublishedStatus& p)
{
    const SERVICE_STATUS& s = p.status;
    char text[512];
    std::snprintf(text, sizeof text,
                  "pid=%lld startTime=%llu type=%u state=%u accepted=%u win32ExitCode=%u "
                  "serviceExitCode=%u checkPoint=%u waitHint=%u\n",
                  static_cast<long long>(p.process.pid), p.process.startTime, s.dwServiceType,
                  s.dwCurrentState, s.dwControlsAccepted, s.dwWin32ExitCode,
                  s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint);
    return replaceFile(runDir + "/status", text, 0644);
}

SERVICE_STATUS effectiveStatus(const std::string& runDir, DWORD configuredType)
{
    SERVICE_STATUS stopped {};
    stopped.dwServiceType = configuredType;
    stopped.dwCurrentState = SERVICE_STOPPED;
    const auto published = readPublishedStatus(runDir);
    if (!published) {
        stopped.dwWin32ExitCode = ERROR_SERVICE_NEVER_STARTED;
        return stopped;
    }
    if (published->status.dwCurrentState == SERVICE_STOPPED) {
        SERVICE_STATUS s = published->status;
        s.dwControlsAccepted = 0;
        return s;
    }
    if (isAlive(published->process))
        return published->status;
    stopped.dwServiceType = published->status.dwServiceType;
    stopped.dwWin32ExitCode = ERROR_PROCESS_ABORTED;
    return stopped;
}

} // namespace quillon::advapi32
