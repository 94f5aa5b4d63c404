// On Windows the service manager and event log are advapi32's own.
#pragma once

#include "platform/win32_base.h"
#include <winsvc.h>
