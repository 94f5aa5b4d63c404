#include "platform/system_error_text.h"

#include "platform/win32_base.h"

QString systemErrorText(quint32 code)
{
    // A message about the error must not change it.
    const DWORD lastError = GetLastError();
    const QString text = qt_error_string(static_cast<int>(code));
    SetLastError(lastError);
    return text;
}
