// FormatMessageW for the system's own messages: the text of an error code,
// ended by CR LF as Windows ends it.
#include "system_messages.h"
#include "utf16.h"

#include "platform/win32_base.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {
constexpr DWORD kErrorMessageNotFound = 317; // ERROR_MR_MID_NOT_FOUND
constexpr DWORD kSupportedFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS
                                  | FORMAT_MESSAGE_MAX_WIDTH_MASK;
} // namespace

extern "C" DWORD FormatMessageW(DWORD flags, LPCVOID /*source*/, DWORD messageId, DWORD languageId,
                                LPWSTR buffer, DWORD size, va_list* arguments)
{
    // Only the system's message table, in its one language; no allocated
    // buffers (they would need LocalFree, which nothing here uses).
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & ~kSupportedFlags) != 0
        || buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* text = quillon::linux_kernel32::systemMessageText(messageId);
    // Neutral, user default, system default and US English all read English.
    const WORD primary = static_cast<WORD>(languageId & 0x3FF);
    if (text == nullptr || (primary != 0 && primary != 0x09)) {
        SetLastError(kErrorMessageNotFound);
        return 0;
    }
    // Inserts are left as they stand only when the caller says so.
    if ((flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && std::strchr(text, '%') != nullptr
        && arguments == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string wide = quillon::linux_text::utf8ToUtf16(std::string(text) + "\r\n");
    if (wide.size() + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(wide.begin(), wide.end(), buffer);
    buffer[wide.size()] = u'\0';
    // Success leaves the last error alone: callers show the text of the very
    // code they then report.
    return static_cast<DWORD>(wide.size());
}
