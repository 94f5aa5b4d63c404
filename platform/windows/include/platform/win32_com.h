// On Windows COM, BSTR, VARIANT and WMI are the system's own.
#pragma once

#include "platform/win32_base.h"
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>
