#include "sc_handles.h"

#include <map>
#include <memory>
#include <mutex>

namespace quillon::advapi32 {

namespace {
constexpr DWORD kGenericRead = 0x80000000UL;
constexpr DWORD kGenericWrite = 0x40000000UL;
constexpr DWORD kGenericExecute = 0x20000000UL;
constexpr DWORD kGenericAll = 0x10000000UL;
constexpr DWORD kReadControl = 0x00020000UL;

struct HandleObject {
    HandleInfo info;
};

std::mutex handlesMutex;
std::map<HandleObject*, std::unique_ptr<HandleObject>> handles; // guarded by handlesMutex

DWORD mapGeneric(DWORD desired, DWORD read, DWORD write, DWORD execute, DWORD all)
{
    DWORD mapped = desired & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    if (desired & kGenericRead)
        mapped |= read;
    if (desired & kGenericWrite)
        mapped |= write;
    if (desired & kGenericExecute)
        mapped |= execute;
    if (desired & kGenericAll)
        mapped |= all;
    return mapped;
}
} // namespace

DWORD mapManagerAccess(DWORD desired)
{
    return mapGeneric(desired,
                      kReadControl | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS,
                      kReadControl | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG,
                      kReadControl | SC_MANAGER_CONNECT | SC_MANAGER_LOCK, SC_MANAGER_ALL_ACCESS)
           | SC_MANAGER_CONNECT; // every manager handle may connect
}

DWORD mapServiceAccess(DWORD desired)
{
    return mapGeneric(desired,
                      kReadControl | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS
                          | SERVICE_INTERROGATE | SERVICE_ENUMERATE_DEPENDENTS,
                      kReadControl | SERVICE_CHANGE_CONFIG,
                      kReadControl | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE
                          | SERVICE_USER_DEFINED_CONTROL,
                      SERVICE_ALL_ACCESS);
}

SC_HANDLE openHandle(HandleInfo info)
{
    auto object = std::make_unique<HandleObject>();
    object->info = std::move(info);
    HandleObject* key = object.get();
    std::lock_guard<std::mutex> lock(handlesMutex);
    handles.emplace(key, std::move(object));
    return reinterpret_cast<SC_HANDLE>(key);
}

std::optional<HandleInfo> lookupHandle(SC_HANDLE handle)
{
    std::lock_guard<std::mutex> lock(handlesMutex);
    const auto it = handles.find(reinterpret_cast<HandleObject*>(handle));
    if (it == handles.end())
        return std::nullopt;
    return it->second->info;
}

bool closeHandle(SC_HANDLE handle)
{
    std::unique_ptr<HandleObject> closed;
    std::lock_guard<std::mutex> lock(handlesMutex);
    const auto it = handles.find(reinterpret_cast<HandleObject*>(handle));
    if (it == handles.end())
        return false;
    closed = std::move(it->second);
    handles.erase(it);
    return true;
}

std::optional<HandleInfo> requireHandle(SC_HANDLE handle, HandleKind kind, DWORD right)
{
    auto info = lookupHandle(handle);
    if (!info || info->kind != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return std::nullopt;
    }
    if ((info->access & right) != right) {
        SetLastError(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    return info;
}

} // namespace quillon::advapi32
