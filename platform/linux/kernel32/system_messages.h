// The message texts of the Windows error codes that the Linux layer sets, as
// Windows words them (US English, without the closing line break).
#pragma once

#include "platform/win32_base.h"

namespace quillon::linux_kernel32 {

// Null for a code that has no text here.
const char* systemMessageText(DWORD code);

} // namespace quillon::linux_kernel32
