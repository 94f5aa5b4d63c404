// Which controls a service takes, as the Windows service manager decides.
#pragma once

#include "platform/win32_service.h"

namespace quillon::advapi32 {

// The handle right a control needs; 0 for a code that is no control.
DWORD rightForControl(DWORD control);

// ERROR_SUCCESS when the control may go to the service's handler, else the
// code ControlService fails with: not running, pending stop, pending start
// (where only a stop the service accepts goes through), or a control the
// service does not accept. Interrogate is always accepted, user controls
// 128..255 always reach a running service.
DWORD controlRefusal(DWORD control, const SERVICE_STATUS& status);

} // namespace quillon::advapi32
