// Which library holds the service manager and event log functions. Windows
// has them in advapi32; on Linux our own layer provides them in a library
// installed beside the program.
#pragma once

#include <QString>

// The name or path handed to QLibrary to bind the service manager functions.
QString serviceApiLibraryName();
