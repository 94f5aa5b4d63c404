#include "platform/service_api_library.h"

#include <QDir>
#include <QFileInfo>

// Our advapi32 layer lives beside the program (built as quillon_advapi32 into
// the same folder), so it is found by absolute path whatever the library
// search path says.
QString serviceApiLibraryName()
{
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    return QFileInfo(self.canonicalFilePath()).absoluteDir().filePath(QStringLiteral("libquillon_advapi32.so"));
}
