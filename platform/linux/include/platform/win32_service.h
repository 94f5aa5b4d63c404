// The service control manager and event log interface of advapi32, as our
// Linux layer provides it (platform/linux/advapi32). quillonsvc never links
// these functions: it binds them by name at run time, exactly as it binds
// advapi32 on Windows.
#pragma once

#include "platform/win32_base.h"

struct SC_HANDLE__;
using SC_HANDLE = SC_HANDLE__*;
struct SERVICE_STATUS_HANDLE__;
using SERVICE_STATUS_HANDLE = SERVICE_STATUS_HANDLE__*;

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};
using LPSERVICE_STATUS = SERVICE_STATUS*;

using LPSERVICE_MAIN_FUNCTIONW = void(WINAPI*)(DWORD argc, LPWSTR* argv);
using LPHANDLER_FUNCTION = void(WINAPI*)(DWORD control);

struct SERVICE_TABLE_ENTRYW {
    LPWSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONW lpServiceProc;
};

struct SERVICE_DESCRIPTIONW {
    LPWSTR lpDescription;
};

using PSID = void*;

// Service manager access rights.
#define SC_MANAGER_CONNECT 0x0001UL
#define SC_MANAGER_CREATE_SERVICE 0x0002UL
#define SC_MANAGER_ENUMERATE_SERVICE 0x0004UL
#define SC_MANAGER_LOCK 0x0008UL
#define SC_MANAGER_QUERY_LOCK_STATUS 0x0010UL
#define SC_MANAGER_MODIFY_BOOT_CONFIG 0x0020UL
#define SC_MANAGER_ALL_ACCESS 0xF003FUL

// Service access rights.
#define SERVICE_QUERY_CONFIG 0x0001UL
#define SERVICE_CHANGE_CONFIG 0x0002UL
#define SERVICE_QUERY_STATUS 0x0004UL
#define SERVICE_ENUMERATE_DEPENDENTS 0x0008UL
#define SERVICE_START 0x0010UL
#define SERVICE_STOP 0x0020UL
#define SERVICE_PAUSE_CONTINUE 0x0040UL
#define SERVICE_INTERROGATE 0x0080UL
#define SERVICE_USER_DEFINED_CONTROL 0x0100UL
#define DELETE 0x00010000UL
#define SERVICE_ALL_ACCESS 0xF01FFUL

// Service types, start types and error control.
#define SERVICE_WIN32_OWN_PROCESS 0x00000010UL
#define SERVICE_INTERACTIVE_PROCESS 0x00000100UL
#define SERVICE_AUTO_START 0x00000002UL
#define SERVICE_DEMAND_START 0x00000003UL
#define SERVICE_DISABLED 0x00000004UL
#define SERVICE_ERROR_NORMAL 0x00000001UL

// Service states.
#define SERVICE_STOPPED 0x00000001UL
#define SERVICE_START_PENDING 0x00000002UL
#define SERVICE_STOP_PENDING 0x00000003UL
#define SERVICE_RUNNING 0x00000004UL
#define SERVICE_CONTINUE_PENDING 0x00000005UL
#define SERVICE_PAUSE_PENDING 0x00000006UL
#define SERVICE_PAUSED 0x00000007UL

// Controls and the controls a service accepts.
#define SERVICE_CONTROL_STOP 0x00000001UL
#define SERVICE_CONTROL_PAUSE 0x00000002UL
#define SERVICE_CONTROL_CONTINUE 0x00000003UL
#define SERVICE_CONTROL_INTERROGATE 0x00000004UL
#define SERVICE_CONTROL_SHUTDOWN 0x00000005UL
#define SERVICE_ACCEPT_STOP 0x00000001UL
#define SERVICE_ACCEPT_PAUSE_CONTINUE 0x00000002UL
#define SERVICE_ACCEPT_SHUTDOWN 0x00000004UL

#define SERVICE_CONFIG_DESCRIPTION 1UL

// Event log entry types.
#define EVENTLOG_SUCCESS 0x0000
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004
#define EVENTLOG_AUDIT_SUCCESS 0x0008
#define EVENTLOG_AUDIT_FAILURE 0x0010

// Error codes of the service manager, as Windows reports them.
#define ERROR_INVALID_NAME 123UL
#define ERROR_DEPENDENT_SERVICES_RUNNING 1051UL
#define ERROR_INVALID_SERVICE_CONTROL 1052UL
#define ERROR_SERVICE_REQUEST_TIMEOUT 1053UL
#define ERROR_SERVICE_NO_THREAD 1054UL
#define ERROR_SERVICE_DATABASE_LOCKED 1055UL
#define ERROR_SERVICE_ALREADY_RUNNING 1056UL
#define ERROR_SERVICE_DISABLED 1058UL
#define ERROR_SERVICE_DOES_NOT_EXIST 1060UL
#define ERROR_SERVICE_CANNOT_ACCEPT_CTRL 1061UL
#define ERROR_SERVICE_NOT_ACTIVE 1062UL
#define ERROR_FAILED_SERVICE_CONTROLLER_CONNECT 1063UL
#define ERROR_SERVICE_SPECIFIC_ERROR 1066UL
#define ERROR_PROCESS_ABORTED 1067UL
#define ERROR_SERVICE_MARKED_FOR_DELETE 1072UL
#define ERROR_SERVICE_EXISTS 1073UL
#define ERROR_SERVICE_NEVER_STARTED 1077UL
#define ERROR_INVALID_SERVICE_ACCOUNT 1057UL
#define ERROR_DATABASE_DOES_NOT_EXIST 1065UL

extern "C" {
SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD desiredAccess);
SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD desiredAccess);
SC_HANDLE WINAPI CreateServiceW(SC_HANDLE manager, LPCWSTR serviceName, LPCWSTR displayName,
                                DWORD desiredAccess, DWORD serviceType, DWORD startType,
                                DWORD errorControl, LPCWSTR binaryPathName,
                                LPCWSTR loadOrderGroup, LPDWORD tagId, LPCWSTR dependencies,
                                LPCWSTR serviceStartName, LPCWSTR password);
BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE service, DWORD infoLevel, LPVOID info);
BOOL WINAPI DeleteService(SC_HANDLE service);
BOOL WINAPI StartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR* argv);
BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL WINAPI CloseServiceHandle(SC_HANDLE handle);
BOOL WINAPI StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table);
SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerW(LPCWSTR serviceName,
                                                         LPHANDLER_FUNCTION handler);
BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE statusHandle, LPSERVICE_STATUS status);
HANDLE WINAPI RegisterEventSourceW(LPCWSTR serverName, LPCWSTR sourceName);
BOOL WINAPI ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                         WORD numStrings, DWORD dataSize, LPCWSTR* strings, LPVOID rawData);
BOOL WINAPI DeregisterEventSource(HANDLE eventLog);
}
