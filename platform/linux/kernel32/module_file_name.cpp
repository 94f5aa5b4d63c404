#include "platform/win32_base.h"
#include "utf16.h"

#include <algorithm>
#include <climits>
#include <string>
#include <unistd.h>

// Only the process's own module (a null handle) has a file name here: that is
// the one question the system asks.
extern "C" DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size)
{
    if (module != nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    std::string path(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    path.resize(static_cast<std::size_t>(length));
    const std::u16string wide = quillon::linux_kernel32::utf8ToUtf16(path);
    if (size == 0 || fileName == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Like Windows: a path that does not fit is cut, terminated, and the
    // full buffer size is returned with ERROR_INSUFFICIENT_BUFFER.
    const std::size_t copied = std::min<std::size_t>(wide.size(), size - 1);
    std::copy_n(wide.data(), copied, fileName);
    fileName[copied] = u'\0';
    if (copied < wide.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(copied);
}
