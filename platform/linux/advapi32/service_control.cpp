// ControlService: hands a control to the service's dispatcher and returns the
// status once the handler has answered.
#include "channel_protocol.h"
#include "control_rules.h"
#include "published_status.h"
#include "registry.h"
#include "sc_handles.h"
#include "wire.h"

#include <cerrno>
#include <unistd.h>

using namespace quillon::advapi32;

namespace {
constexpr DWORD kErrorInvalidAddress = 487;

SERVICE_STATUS currentStatus(const Registry& registry, const std::string& name)
{
    const auto config = registry.load(name);
    return effectiveStatus(registry.runDir(name), config ? config->type : SERVICE_WIN32_OWN_PROCESS);
}

BOOL refuse(DWORD error, const SERVICE_STATUS& current, LPSERVICE_STATUS status)
{
    *status = current;
    SetLastError(error);
    return FALSE;
}

bool isStopControl(DWORD control)
{
    return control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN;
}
} // namespace

extern "C" BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status)
{
    const auto known = lookupHandle(service);
    if (!known || known->kind != HandleKind::Service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const DWORD right = rightForControl(control);
    if (right == 0) {
        SetLastError(ERROR_INVALID_PARAMETER); // not a control at all
        return FALSE;
    }
    const auto handle = requireHandle(service, HandleKind::Service, right);
    if (!handle)
        return FALSE;
    if (status == nullptr) {
        SetLastError(kErrorInvalidAddress);
        return FALSE;
    }
    const Registry registry(handle->stateDir);
    const std::string runDir = registry.runDir(handle->name);
    const SERVICE_STATUS before = currentStatus(registry, handle->name);
    if (before.dwCurrentState == SERVICE_STOPPED)
        return refuse(ERROR_SERVICE_NOT_ACTIVE, before, status);

    const int fd = connectInDirectory(runDir, kControlSocketName);
    if (fd < 0 && (errno == EACCES || errno == EPERM)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (fd < 0) {
        // No dispatcher listens: the process ended, or it is still starting.
        const SERVICE_STATUS now = currentStatus(registry, handle->name);
        if (now.dwCurrentState == SERVICE_STOPPED)
            return refuse(ERROR_SERVICE_NOT_ACTIVE, now, status);
        if (now.dwCurrentState == SERVICE_START_PENDING)
            return refuse(ERROR_SERVICE_CANNOT_ACCEPT_CTRL, now, status);
        return refuse(ERROR_SERVICE_REQUEST_TIMEOUT, now, status);
    }

    MessageWriter request;
    request.word(control);
    MessageReader reply;
    ReadResult result = ReadResult::Failed;
    if (request.sendTo(fd))
        result = reply.receiveFrom(fd, Clock::now() + serviceRequestTimeout());
    ::close(fd);

    if (result == ReadResult::Ok) {
        const auto error = reply.word();
        SERVICE_STATUS answered {};
        DWORD* fields[] = {&answered.dwServiceType,   &answered.dwCurrentState,
                           &answered.dwControlsAccepted, &answered.dwWin32ExitCode,
                           &answered.dwServiceSpecificExitCode, &answered.dwCheckPoint,
                           &answered.dwWaitHint};
        bool complete = error.has_value();
        for (DWORD* field : fields) {
            const auto value = reply.word();
            complete = complete && value.has_value();
            *field = value.value_or(0);
        }
        if (complete) {
            if (*error != ERROR_SUCCESS)
                return refuse(*error, answered, status);
            *status = answered;
            return TRUE;
        }
    }
    if (result == ReadResult::TimedOut)
        return refuse(ERROR_SERVICE_REQUEST_TIMEOUT, currentStatus(registry, handle->name), status);

    // The dispatcher went away without answering: the process has ended.
    const SERVICE_STATUS after = currentStatus(registry, handle->name);
    if (after.dwCurrentState == SERVICE_STOPPED) {
        if (isStopControl(control)) {
            *status = after;
            return TRUE;
        }
        return refuse(ERROR_SERVICE_NOT_ACTIVE, after, status);
    }
    return refuse(ERROR_SERVICE_REQUEST_TIMEOUT, after, status);
}
