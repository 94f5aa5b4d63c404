// Opening the service manager and services, the registry entries, status
// queries and handle closing.
#include "service_manager.h"

#include "accounts.h"
#include "event_log.h"
#include "files.h"
#include "program_trust.h"
#include "published_status.h"
#include "text.h"

#include <cerrno>
#include <memory>
#include <unistd.h>

namespace quillon::advapi32 {

namespace {
constexpr DWORD kErrorInvalidLevel = 124;
constexpr DWORD kErrorInvalidAddress = 487;
constexpr DWORD kErrorDuplicateServiceName = 1078;
constexpr DWORD kRpcServerUnavailable = 1722;
constexpr std::size_t kMaxNameLength = 256;
// The identifier Windows' service manager gives this entry.
constexpr DWORD kEventServiceTerminatedUnexpectedly = 7034;

// Rights that only the manager's administrators get on Windows; here the
// users who may write the state directory.
constexpr DWORD kManagerReadRights = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE
                                     | SC_MANAGER_QUERY_LOCK_STATUS | 0x00020000UL;
constexpr DWORD kServiceReadRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS
                                     | SERVICE_INTERROGATE | SERVICE_ENUMERATE_DEPENDENTS
                                     | 0x00020000UL;

// The owner of the state directory stands for the Windows administrators.
bool isAdministrator(const StateRoot& root)
{
    return root.owner == ::geteuid();
}

std::size_t utf16Length(LPCWSTR text)
{
    std::size_t length = 0;
    while (text[length] != u'\0')
        ++length;
    return length;
}

bool isSupportedType(DWORD type, bool withAccount)
{
    if (type == SERVICE_WIN32_OWN_PROCESS)
        return true;
    // Interactive services run only as LocalSystem.
    return type == (SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS) && !withAccount;
}
} // namespace

bool isValidServiceName(const std::string& name)
{
    return !name.empty() && name.find('/') == std::string::npos
           && name.find('\\') == std::string::npos;
}

std::optional<StateRoot> openHandleState(const HandleInfo& handle)
{
    return openStateRoot(handle.stateDir, false);
}

std::optional<ServiceConfig> loadForHandle(const Registry& registry, const HandleInfo& handle)
{
    auto config = registry.load(handle.name);
    if (!config)
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return config;
}

uid_t statusOwner(const StateRoot& root, const ServiceConfig& config)
{
    if (root.owner != 0 || config.account.empty())
        return root.owner;
    const auto account = resolveAccount(config.account);
    return account ? account->uid : root.owner;
}

void recordUnexpectedEnd(const Registry& registry, int runFolder, const ServiceConfig& config)
{
    const StateRoot& root = registry.root();
    if (runFolder < 0 || !isAdministrator(root))
        return;
    bool ended = false;
    effectiveStatus(runFolder, root.owner, statusOwner(root, config), config.type, &ended);
    const auto instance = ended ? readInstance(runFolder, root.owner) : std::nullopt;
    if (!instance)
        return;
    // Recorded first: from now on the death reads as recorded, so the entry
    // below is written once.
    if (recordInstance(runFolder, instance->process, config.type, SERVICE_STOPPED, ERROR_PROCESS_ABORTED) != 0)
        return;
    reportManagerEvent(root, config.name, EVENTLOG_ERROR_TYPE, kEventServiceTerminatedUnexpectedly,
                       "The " + config.displayName + " service terminated unexpectedly.");
}

SERVICE_STATUS currentStatus(const Registry& registry, const std::string& name, bool startLockHeld)
{
    const StateRoot& root = registry.root();
    const auto config = registry.load(name);
    const Fd run = registry.runFolder(name, false);
    bool ended = false;
    const SERVICE_STATUS status =
        effectiveStatus(run.get(), root.owner, config ? statusOwner(root, *config) : root.owner,
                        config ? config->type : SERVICE_WIN32_OWN_PROCESS, &ended);
    if (ended && config && isAdministrator(root)) {
        // A start that holds the lock records it itself; a query never waits.
        const auto lock = startLockHeld ? nullptr : registry.lockStart(name, Clock::now());
        if (startLockHeld || lock->locked())
            recordUnexpectedEnd(registry, run.get(), *config);
    }
    return status;
}

bool purgeIfStopped(const Registry& registry, const ServiceConfig& config)
{
    if (!config.markedForDelete)
        return false;
    if (currentStatus(registry, config.name, true).dwCurrentState != SERVICE_STOPPED)
        return false;
    registry.removeEntry(config.name);
    registry.clearRunFolder(config.name);
    return true;
}

} // namespace quillon::advapi32

using namespace quillon::advapi32;

extern "C" SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName,
                                           DWORD desiredAccess)
{
    if (!isLocalMachine(machineName)) {
        SetLastError(kRpcServerUnavailable);
        return nullptr;
    }
    if (databaseName != nullptr && !sameName(toUtf8(databaseName), "ServicesActive")) {
        SetLastError(ERROR_DATABASE_DOES_NOT_EXIST);
        return nullptr;
    }
    const std::string stateDir = stateDirectoryPath();
    const auto root = openStateRoot(stateDir, true);
    if (!root)
        return nullptr; // last error set
    const Registry registry(*root);
    if (!registry.ready()) {
        SetLastError(errorFromErrno(errno));
        return nullptr;
    }
    const DWORD access = mapManagerAccess(desiredAccess);
    if ((access & ~kManagerReadRights) != 0 && !isAdministrator(*root)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HandleInfo info;
    info.kind = HandleKind::Manager;
    info.access = access;
    info.stateDir = stateDir;
    return openHandle(std::move(info));
}

extern "C" SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD desiredAccess)
{
    const auto managerInfo = requireHandle(manager, HandleKind::Manager, SC_MANAGER_CONNECT);
    if (!managerInfo)
        return nullptr;
    if (serviceName == nullptr) {
        SetLastError(kErrorInvalidAddress);
        return nullptr;
    }
    const std::string name = toUtf8(serviceName);
    if (!isValidServiceName(name) || utf16Length(serviceName) > kMaxNameLength) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    const auto root = openHandleState(*managerInfo);
    if (!root)
        return nullptr;
    const Registry registry(*root);
    std::optional<ServiceConfig> config = registry.load(name);
    // An entry marked for deletion goes once its service has stopped.
    if (config && config->markedForDelete && isAdministrator(*root)) {
        const auto startLock = registry.lockStart(name);
        const auto lock = startLock->locked() ? registry.lockRegistry() : nullptr;
        if (lock && lock->locked()) {
            config = registry.load(name);
            if (config && purgeIfStopped(registry, *config))
                config.reset();
        }
    }
    if (!config) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    const DWORD access = mapServiceAccess(desiredAccess);
    if ((access & ~kServiceReadRights) != 0 && !isAdministrator(*root)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HandleInfo info;
    info.kind = HandleKind::Service;
    info.access = access;
    info.stateDir = managerInfo->stateDir;
    info.name = config->name;
    return openHandle(std::move(info));
}

extern "C" SC_HANDLE WINAPI CreateServiceW(SC_HANDLE manager, LPCWSTR serviceName,
                                           LPCWSTR displayName, DWORD desiredAccess,
                                           DWORD serviceType, DWORD startType, DWORD errorControl,
                                           LPCWSTR binaryPathName, LPCWSTR loadOrderGroup,
                                           LPDWORD tagId, LPCWSTR dependencies,
                                           LPCWSTR serviceStartName, LPCWSTR /*password*/)
{
    // The password is never read: switching a process started by root to
    // another user needs none, so none is kept (see README.md).
    const auto managerInfo = requireHandle(manager, HandleKind::Manager, SC_MANAGER_CREATE_SERVICE);
    if (!managerInfo)
        return nullptr;
    if (serviceName == nullptr) {
        SetLastError(kErrorInvalidAddress);
        return nullptr;
    }
    ServiceConfig config;
    config.name = toUtf8(serviceName);
    config.displayName = displayName != nullptr && displayName[0] != u'\0' ? toUtf8(displayName)
                                                                            : config.name;
    if (!isValidServiceName(config.name) || utf16Length(serviceName) > kMaxNameLength
        || (displayName != nullptr && utf16Length(displayName) > kMaxNameLength)) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    config.commandLine = toUtf8(binaryPathName);
    config.account = isLocalSystem(toUtf8(serviceStartName)) ? std::string()
                                                             : toUtf8(serviceStartName);
    config.type = serviceType;
    config.startType = startType;
    config.errorControl = errorControl;
    const bool hasGroup = loadOrderGroup != nullptr && loadOrderGroup[0] != u'\0';
    const bool hasDependencies = dependencies != nullptr && dependencies[0] != u'\0';
    // Load-order groups and dependencies belong to start-up ordering at boot,
    // which this manager does not do: refused rather than ignored.
    if (config.commandLine.empty() || !isSupportedType(serviceType, !config.account.empty())
        || startType < SERVICE_AUTO_START || startType > SERVICE_DISABLED || errorControl > 3
        || hasGroup || hasDependencies || tagId != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!config.account.empty() && !resolveAccount(config.account)) {
        SetLastError(ERROR_INVALID_SERVICE_ACCOUNT);
        return nullptr;
    }

    // Root registers no program it would run as root unless root alone can
    // change it.
    if (const std::string refusal = programRefusal(config); !refusal.empty()) {
        reportProgramRefusal(refusal);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }

    const auto root = openHandleState(*managerInfo);
    if (!root)
        return nullptr;
    const Registry registry(*root);
    // A new service must not meet a start of the old one of its name.
    const auto startLock = registry.lockStart(config.name);
    if (!startLock->locked()) {
        SetLastError(lockError(*startLock));
        return nullptr;
    }
    const auto lock = registry.lockRegistry();
    if (!lock->locked()) {
        SetLastError(lockError(*lock));
        return nullptr;
    }
    if (const auto existing = registry.load(config.name)) {
        if (!purgeIfStopped(registry, *existing)) {
            SetLastError(existing->markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                   : ERROR_SERVICE_EXISTS);
            return nullptr;
        }
    }
    for (const ServiceConfig& other : registry.loadAll()) {
        if (fileKey(other.name) == fileKey(config.name)) { // a hash key taken by another name
            SetLastError(ERROR_SERVICE_EXISTS);
            return nullptr;
        }
        if (sameName(other.displayName, config.displayName) || sameName(other.name, config.displayName)
            || sameName(other.displayName, config.name)) {
            SetLastError(kErrorDuplicateServiceName);
            return nullptr;
        }
    }
    registry.clearRunFolder(config.name); // a new service starts from a clean run folder
    if (const int error = registry.store(config); error != 0) {
        SetLastError(errorFromErrno(error));
        return nullptr;
    }

    HandleInfo info;
    info.kind = HandleKind::Service;
    info.access = mapServiceAccess(desiredAccess);
    info.stateDir = managerInfo->stateDir;
    info.name = config.name;
    return openHandle(std::move(info));
}

extern "C" BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE service, DWORD infoLevel, LPVOID info)
{
    const auto handle = requireHandle(service, HandleKind::Service, SERVICE_CHANGE_CONFIG);
    if (!handle)
        return FALSE;
    if (infoLevel != SERVICE_CONFIG_DESCRIPTION) {
        SetLastError(kErrorInvalidLevel);
        return FALSE;
    }
    if (info == nullptr) {
        SetLastError(kErrorInvalidAddress);
        return FALSE;
    }
    const auto* description = static_cast<const SERVICE_DESCRIPTIONW*>(info);
    const auto root = openHandleState(*handle);
    if (!root)
        return FALSE;
    const Registry registry(*root);
    const auto lock = registry.lockRegistry();
    if (!lock->locked()) {
        SetLastError(lockError(*lock));
        return FALSE;
    }
    auto config = loadForHandle(registry, *handle);
    if (!config)
        return FALSE;
    if (config->markedForDelete) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    if (description->lpDescription == nullptr)
        return TRUE; // null leaves the description as it is
    config->description = toUtf8(description->lpDescription);
    if (const int error = registry.store(*config); error != 0) {
        SetLastError(errorFromErrno(error));
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI DeleteService(SC_HANDLE service)
{
    const auto handle = requireHandle(service, HandleKind::Service, DELETE);
    if (!handle)
        return FALSE;
    const auto root = openHandleState(*handle);
    if (!root)
        return FALSE;
    const Registry registry(*root);
    // No start of the service may run while its entry and run folder go.
    const auto startLock = registry.lockStart(handle->name);
    if (!startLock->locked()) {
        SetLastError(lockError(*startLock));
        return FALSE;
    }
    const auto lock = registry.lockRegistry();
    if (!lock->locked()) {
        SetLastError(lockError(*lock));
        return FALSE;
    }
    auto config = loadForHandle(registry, *handle);
    if (!config)
        return FALSE;
    if (config->markedForDelete) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    // A running service keeps its entry, marked, until it has stopped.
    config->markedForDelete = true;
    if (!purgeIfStopped(registry, *config)) {
        if (const int error = registry.store(*config); error != 0) {
            SetLastError(errorFromErrno(error));
            return FALSE;
        }
    }
    return TRUE;
}

extern "C" BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status)
{
    const auto handle = requireHandle(service, HandleKind::Service, SERVICE_QUERY_STATUS);
    if (!handle)
        return FALSE;
    if (status == nullptr) {
        SetLastError(kErrorInvalidAddress);
        return FALSE;
    }
    const auto root = openHandleState(*handle);
    if (!root)
        return FALSE;
    *status = currentStatus(Registry(*root), handle->name);
    return TRUE;
}

extern "C" BOOL WINAPI CloseServiceHandle(SC_HANDLE handle)
{
    if (!closeHandle(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
