// The service-manager entry points until the manager itself lands: each one
// refuses as a Windows service manager that denies access does, and the
// dispatcher reports that no manager started this process.
#include "platform/win32_service.h"

extern "C" {
SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR, LPCWSTR, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}
SC_HANDLE WINAPI OpenServiceW(SC_HANDLE, LPCWSTR, DWORD)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}
SC_HANDLE WINAPI CreateServiceW(SC_HANDLE, LPCWSTR, LPCWSTR, DWORD, DWORD, DWORD, DWORD, LPCWSTR,
                                LPCWSTR, LPDWORD, LPCWSTR, LPCWSTR, LPCWSTR)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}
BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE, DWORD, LPVOID)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL WINAPI DeleteService(SC_HANDLE)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL WINAPI StartServiceW(SC_HANDLE, DWORD, LPCWSTR*)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL WINAPI ControlService(SC_HANDLE, DWORD, LPSERVICE_STATUS)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL WINAPI QueryServiceStatus(SC_HANDLE, LPSERVICE_STATUS)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL WINAPI CloseServiceHandle(SC_HANDLE)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL WINAPI StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW*)
{
    SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    return FALSE;
}
SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerW(LPCWSTR, LPHANDLER_FUNCTION)
{
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
}
BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
}
