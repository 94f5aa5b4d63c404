// The handles of OpenSCManagerW, OpenServiceW and CreateServiceW: what was
// opened and the access it was opened with. Only live handles are accepted.
#pragma once

#include "platform/win32_service.h"

#include <optional>
#include <string>

namespace quillon::advapi32 {

enum class HandleKind { Manager, Service };

struct HandleInfo {
    HandleKind kind = HandleKind::Manager;
    DWORD access = 0;      // granted rights, generic rights mapped
    std::string stateDir;  // the state directory at open time
    std::string name;      // the service's registered name
};

SC_HANDLE openHandle(HandleInfo info);
// A copy of the handle's data; nullopt for unknown or closed handles.
std::optional<HandleInfo> lookupHandle(SC_HANDLE handle);
bool closeHandle(SC_HANDLE handle);

DWORD mapManagerAccess(DWORD desired);
DWORD mapServiceAccess(DWORD desired);

// Looks the handle up as the kind wanted, checks the right, and sets the
// last error (ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED) when it fails.
std::optional<HandleInfo> requireHandle(SC_HANDLE handle, HandleKind kind, DWORD right);

} // namespace quillon::advapi32
