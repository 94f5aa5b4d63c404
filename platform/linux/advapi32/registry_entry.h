// One entry of the service registry (services/<service>.conf) and its text
// form: key=value lines, backslash, CR and LF escaped. The parser takes bytes
// from a file and returns a result; it trusts nothing in them.
#pragma once

#include "platform/win32_base.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::advapi32 {

struct ServiceConfig {
    std::string name;
    std::string displayName;
    std::string commandLine;
    std::string account; // empty: the manager's own account (LocalSystem)
    std::string description;
    DWORD type = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    bool markedForDelete = false;
    // NAME=value entries the service's process gets, set by an administrator
    // in the entry (like the Environment value of a Windows service's key).
    std::vector<std::string> environment;
};

std::string serializeConfig(const ServiceConfig& config);

// nullopt for text that is no entry: a line without '=', a NUL anywhere, a
// missing name, a number that does not parse, an environment entry without a
// name.
std::optional<ServiceConfig> parseConfig(std::string_view text);

} // namespace quillon::advapi32
