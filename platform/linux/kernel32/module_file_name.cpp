#include "platform/win32_base.h"
#include "utf16.h"

#include <algorithm>
#include <climits>
#include <string>
#include <unistd.h>

namespace {
constexpr DWORD kErrorNoUnicodeTranslation = 1113;

// The program's path as the kernel has it: bytes, whatever their encoding.
bool ownPath(std::string& path)
{
    for (std::size_t size = PATH_MAX;; size *= 2) {
        path.assign(size, '\0');
        const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        if (length <= 0)
            return false;
        if (static_cast<std::size_t>(length) < size) {
            path.resize(static_cast<std::size_t>(length));
            return true;
        }
    }
}
} // namespace

// Only the process's own module (a null handle) has a file name here: that is
// the one question the system asks.
extern "C" DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size)
{
    if (module != nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    std::string path;
    if (!ownPath(path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    // A name that is not UTF-8 has no UTF-16 form; a stand-in character
    // would name another file, so there is no name at all.
    if (!quillon::linux_text::isValidUtf8(path)) {
        SetLastError(kErrorNoUnicodeTranslation);
        return 0;
    }
    const std::u16string wide = quillon::linux_text::utf8ToUtf16(path);
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
