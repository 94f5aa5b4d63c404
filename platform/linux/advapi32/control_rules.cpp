#include "control_rules.h"

namespace quillon::advapi32 {

namespace {
constexpr DWORD kControlParamChange = 6;
constexpr DWORD kControlNetBindLast = 10;
constexpr DWORD kAcceptParamChange = 0x8;
constexpr DWORD kAcceptNetBindChange = 0x10;
} // namespace

DWORD rightForControl(DWORD control)
{
    if (control >= 128 && control <= 255)
        return SERVICE_USER_DEFINED_CONTROL;
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN: return SERVICE_STOP;
    case SERVICE_CONTROL_INTERROGATE: return SERVICE_INTERROGATE;
    default:
        if (control >= SERVICE_CONTROL_PAUSE && control <= kControlNetBindLast)
            return SERVICE_PAUSE_CONTINUE; // pause, continue, parameter and binding changes
        return 0;
    }
}

DWORD controlRefusal(DWORD control, const SERVICE_STATUS& status)
{
    switch (status.dwCurrentState) {
    case SERVICE_STOPPED: return ERROR_SERVICE_NOT_ACTIVE;
    case SERVICE_START_PENDING:
        // A service may take long to start; it can be stopped meanwhile if
        // it says so. Nothing else reaches it before it runs.
        return control == SERVICE_CONTROL_STOP && (status.dwControlsAccepted & SERVICE_ACCEPT_STOP) != 0
                   ? ERROR_SUCCESS
                   : ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    case SERVICE_STOP_PENDING: return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    default: break;
    }
    if (control == SERVICE_CONTROL_INTERROGATE || (control >= 128 && control <= 255))
        return ERROR_SUCCESS;
    DWORD needed = 0;
    switch (control) {
    case SERVICE_CONTROL_STOP: needed = SERVICE_ACCEPT_STOP; break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE: needed = SERVICE_ACCEPT_PAUSE_CONTINUE; break;
    case SERVICE_CONTROL_SHUTDOWN: needed = SERVICE_ACCEPT_SHUTDOWN; break;
    case kControlParamChange: needed = kAcceptParamChange; break;
    default:
        if (control > kControlParamChange && control <= kControlNetBindLast)
            needed = kAcceptNetBindChange;
        else
            return ERROR_INVALID_SERVICE_CONTROL;
    }
    return (status.dwControlsAccepted & needed) != 0 ? ERROR_SUCCESS : ERROR_INVALID_SERVICE_CONTROL;
}

} // namespace quillon::advapi32
