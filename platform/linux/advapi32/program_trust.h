// The programs root runs as root. The service manager starts a service's
// program as root when root starts a service without an account; that
// program, its folder and every folder above it must be root's alone (the
// rule of the state directory), or root would run what another user put
// there. Checked when the service is registered and again before each start,
// since folders and files can change in between.
#pragma once

#include "registry_entry.h"

#include <string>

namespace quillon::advapi32 {

// Why the manager must not run the service's program; empty when it may, or
// when the program will not run as root (a service under an account, or a
// manager that is not root).
std::string programRefusal(const ServiceConfig& config);

// Says it on standard error (for whoever runs the command) and in the
// system log, as the refusals of a state directory.
void reportProgramRefusal(const std::string& refusal);

} // namespace quillon::advapi32
