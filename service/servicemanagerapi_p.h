// The service manager and event log functions, bound by name at run time
// rather than linked, so that the program starts even where the library is
// missing; every caller asks resolveServiceApi() first.
#pragma once

#include "platform/win32_service.h"

#include <QString>

// One pointer per function of platform/service_manager_functions.def, named
// and typed as the system declares it.
namespace ServiceApi {
#define QUILLON_SERVICE_MANAGER_FUNCTION(name, result, parameters) extern decltype(&::name) name;
#include "platform/service_manager_functions.def"
#undef QUILLON_SERVICE_MANAGER_FUNCTION
} // namespace ServiceApi

// Loads the library and binds the functions. True once OpenSCManagerW was
// found; from then on it returns true at once. After a failure the next call
// tries again. Functions the library lacks are bound to stand-ins that fail
// with ERROR_CALL_NOT_IMPLEMENTED, so a bound pointer is never null.
bool resolveServiceApi();

// Whether the functions are bound, without trying to bind them.
bool serviceApiBound();

// For tests: forget the current binding and bind the given library (a file
// path) on the next resolveServiceApi(). An empty name restores the normal one.
void bindServiceApiLibraryForTesting(const QString& fileName);
