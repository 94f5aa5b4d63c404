#include "platform/win32_base.h"

namespace {
// One last-error value per thread, as on Windows.
thread_local DWORD lastError = ERROR_SUCCESS;
} // namespace

extern "C" DWORD GetLastError()
{
    return lastError;
}

extern "C" void SetLastError(DWORD code)
{
    lastError = code;
}
