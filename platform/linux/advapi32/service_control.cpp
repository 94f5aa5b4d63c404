// ControlService: hands a control to the service's dispatcher and returns the
// status once the handler has answered.
#include "control_rules.h"
#include "published_status.h"
#include "registry.h"
#include "sc_handles.h"
#include "service_manager.h"
#include "wire.h"
#include "wire_messages.h"

#include <cerrno>
#include <unistd.h>

using namespace quillon::advapi32;

namespace {
constexpr DWORD kErrorInvalidAddress = 487;

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
    const auto root = openHandleState(*handle);
    if (!root)
        return FALSE;
    const Registry registry(*root);
    const SERVICE_STATUS before = currentStatus(registry, handle->name);
    // Refused on what the service published, as the manager knows it; the
    // dispatcher checks again against its own.
    if (const DWORD refusal = controlRefusal(control, before); refusal != ERROR_SUCCESS)
        return refuse(refusal, before, status);

    // The socket is the manager's, in the manager's folder: nothing on the
    // way can be another user's link.
    const Fd run = registry.runFolder(handle->name, false);
    const Fd connection(run ? connectInFolder(run.get(), kControlSocketName) : -1);
    if (!connection && (errno == EACCES || errno == EPERM)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!connection) {
        // No dispatcher listens: the process ended.
        const SERVICE_STATUS now = currentStatus(registry, handle->name);
        if (now.dwCurrentState == SERVICE_STOPPED)
            return refuse(ERROR_SERVICE_NOT_ACTIVE, now, status);
        if (now.dwCurrentState == SERVICE_START_PENDING)
            return refuse(ERROR_SERVICE_CANNOT_ACCEPT_CTRL, now, status);
        return refuse(ERROR_SERVICE_REQUEST_TIMEOUT, now, status);
    }

    MessageReader reply;
    ReadResult result = ReadResult::Failed;
    if (sendFrame(connection.get(), encodeControlRequest(control)))
        result = reply.receiveFrom(connection.get(), Clock::now() + serviceRequestTimeout());

    if (result == ReadResult::Ok) {
        if (const auto answered = parseControlReply(reply.bytes())) {
            if (answered->error != ERROR_SUCCESS)
                return refuse(answered->error, answered->status, status);
            *status = answered->status;
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
