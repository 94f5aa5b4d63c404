// The message text of a Windows error code, as the system words it. Windows
// gives it through FormatMessage (what Qt's qt_error_string shows there); on
// Linux the layer has the texts of the codes it sets. qErrnoWarning cannot
// be used for these codes: on Linux it reads errno, not the last error.
#pragma once

#include <QString>

QString systemErrorText(quint32 code);
