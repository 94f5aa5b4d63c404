#include "platform/service_api_library.h"

QString serviceApiLibraryName()
{
    return QStringLiteral("advapi32");
}
