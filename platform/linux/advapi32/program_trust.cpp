#include "program_trust.h"

#include "command_line.h"
#include "syslog_sink.h"
#include "trusted_path.h"

#include <cstdio>
#include <syslog.h>
#include <unistd.h>

namespace quillon::advapi32 {

std::string programRefusal(const ServiceConfig& config)
{
    if (::geteuid() != 0 || !config.account.empty())
        return {};
    const std::vector<std::string> commandLine = splitCommandLine(config.commandLine);
    if (commandLine.empty() || commandLine[0].empty())
        return {}; // nothing to run: the start fails on its own
    // The process runs its program from /, where a relative path leads.
    const std::string program = commandLine[0][0] == '/' ? commandLine[0] : "/" + commandLine[0];
    const linux_trust::Walked walked = linux_trust::checkRootsFile(program);
    if (walked.refusal.empty())
        return {}; // a program that is not there fails to start as before
    return "The program " + program + " is not used: " + walked.refusal;
}

void reportProgramRefusal(const std::string& refusal)
{
    std::fprintf(stderr, "quillon service manager: %s\n", refusal.c_str());
    sendToSystemLog(LOG_ERR, "quillon-service-manager", refusal);
}

} // namespace quillon::advapi32
