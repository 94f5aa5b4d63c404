// On Windows the window message record is the Windows API's own.
#pragma once

#include "platform/win32_base.h"
