#include "platform/system_error_text.h"

#include "platform/win32_base.h"

QString systemErrorText(quint32 code)
{
    const DWORD lastError = GetLastError();
    WCHAR buffer[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                  0, buffer, sizeof buffer / sizeof buffer[0], nullptr);
    // As Qt shows the texts on Windows: without the closing line break, and
    // a code without text by its number.
    SetLastError(lastError); // a message about the error must not change it
    while (length > 0 && (buffer[length - 1] == u'\n' || buffer[length - 1] == u'\r'))
        --length;
    if (length == 0)
        return QStringLiteral("Unknown error 0x%1.").arg(code, 8, 16, QLatin1Char('0'));
    return QString::fromUtf16(buffer, static_cast<int>(length));
}
