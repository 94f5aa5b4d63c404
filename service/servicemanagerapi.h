// The service manager and event log functions, bound by name at run time
// rather than linked, so that the program starts even where the library is
// missing; every caller asks resolveServiceApi() first.
#pragma once

#include "platform/win32_service.h"

#include <QString>

namespace ServiceApi {
extern decltype(&::OpenSCManagerW) OpenSCManagerW;
extern decltype(&::OpenServiceW) OpenServiceW;
extern decltype(&::CreateServiceW) CreateServiceW;
extern decltype(&::ChangeServiceConfig2W) ChangeServiceConfig2W;
extern decltype(&::DeleteService) DeleteService;
extern decltype(&::StartServiceW) StartServiceW;
extern decltype(&::ControlService) ControlService;
extern decltype(&::QueryServiceStatus) QueryServiceStatus;
extern decltype(&::CloseServiceHandle) CloseServiceHandle;
extern decltype(&::StartServiceCtrlDispatcherW) StartServiceCtrlDispatcherW;
extern decltype(&::RegisterServiceCtrlHandlerW) RegisterServiceCtrlHandlerW;
extern decltype(&::SetServiceStatus) SetServiceStatus;
extern decltype(&::RegisterEventSourceW) RegisterEventSourceW;
extern decltype(&::ReportEventW) ReportEventW;
extern decltype(&::DeregisterEventSource) DeregisterEventSource;
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
