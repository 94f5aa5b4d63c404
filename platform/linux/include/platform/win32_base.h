// The Windows base types and the kernel32 calls the system uses, as provided
// on Linux by our own layer (platform/linux/kernel32). Code above the seam
// includes this header by the same name on both systems.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using BOOL = int;
using ULONGLONG = std::uint64_t;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using HANDLE = void*;
using HMODULE = void*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define MAX_PATH 260
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using LPFILETIME = FILETIME*;

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

// Error codes the system looks at.
#define ERROR_SUCCESS 0UL
#define ERROR_FILE_NOT_FOUND 2UL
#define ERROR_ACCESS_DENIED 5UL
#define ERROR_INVALID_HANDLE 6UL
#define ERROR_NOT_ENOUGH_MEMORY 8UL
#define ERROR_INVALID_PARAMETER 87UL
#define ERROR_INSUFFICIENT_BUFFER 122UL
#define ERROR_CALL_NOT_IMPLEMENTED 120UL

// CreateFileW
#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL
#define FILE_SHARE_READ 0x00000001UL
#define FILE_SHARE_WRITE 0x00000002UL
#define OPEN_EXISTING 3UL

extern "C" {
DWORD GetLastError();
void SetLastError(DWORD code);
void Sleep(DWORD milliseconds);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
void GetSystemTimeAsFileTime(LPFILETIME time);
void GetSystemTimePreciseAsFileTime(LPFILETIME time);
}

// The text of a system error code (FORMAT_MESSAGE_FROM_SYSTEM), in English.
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200UL
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000UL
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFUL

extern "C" {
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                     DWORD size, va_list* arguments);
}

// Devices and volumes: CreateFileW, DeviceIoControl, CloseHandle,
// GetSystemWindowsDirectoryA, GetVolumeInformationA.
#define ERROR_NOT_SUPPORTED 50UL
#define ERROR_PATH_NOT_FOUND 3UL
#define ERROR_INVALID_FUNCTION 1UL

extern "C" {
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                     LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE object);
UINT GetSystemWindowsDirectoryA(LPSTR buffer, UINT size);
BOOL GetVolumeInformationA(LPCSTR rootPathName, LPSTR volumeNameBuffer, DWORD volumeNameSize,
                           LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                           LPDWORD fileSystemFlags, LPSTR fileSystemNameBuffer,
                           DWORD fileSystemNameSize);
}
