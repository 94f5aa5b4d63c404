#include "servicemanagerapi.h"

#include "platform/service_api_library.h"

#include <QLibrary>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <vector>

namespace ServiceApi {
decltype(&::OpenSCManagerW) OpenSCManagerW = nullptr;
decltype(&::OpenServiceW) OpenServiceW = nullptr;
decltype(&::CreateServiceW) CreateServiceW = nullptr;
decltype(&::ChangeServiceConfig2W) ChangeServiceConfig2W = nullptr;
decltype(&::DeleteService) DeleteService = nullptr;
decltype(&::StartServiceW) StartServiceW = nullptr;
decltype(&::ControlService) ControlService = nullptr;
decltype(&::QueryServiceStatus) QueryServiceStatus = nullptr;
decltype(&::CloseServiceHandle) CloseServiceHandle = nullptr;
decltype(&::StartServiceCtrlDispatcherW) StartServiceCtrlDispatcherW = nullptr;
decltype(&::RegisterServiceCtrlHandlerW) RegisterServiceCtrlHandlerW = nullptr;
decltype(&::SetServiceStatus) SetServiceStatus = nullptr;
decltype(&::RegisterEventSourceW) RegisterEventSourceW = nullptr;
decltype(&::ReportEventW) ReportEventW = nullptr;
decltype(&::DeregisterEventSource) DeregisterEventSource = nullptr;
} // namespace ServiceApi

namespace {

QMutex bindingMutex;
std::atomic<bool> bound{false};
QString libraryOverride;
// Every library bound so far; none is ever unloaded or deleted.
std::vector<QLibrary*>* boundLibraries = nullptr;

// Stands in for a function the library does not export: the call fails the
// way a refused call does, with a last error that says why.
template <typename Function>
struct MissingFunction;

template <typename Result, typename... Args>
struct MissingFunction<Result(WINAPI*)(Args...)> {
    static Result WINAPI call(Args...)
    {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return Result();
    }
};

template <typename Function>
void bindFunction(QLibrary& library, const char* name, Function& target)
{
    // QLibrary hands out untyped addresses; the library's exports have
    // exactly the declared prototypes.
    auto address = reinterpret_cast<Function>(library.resolve(name));
    target = address != nullptr ? address : &MissingFunction<Function>::call;
}

void clearFunctions()
{
    ServiceApi::OpenSCManagerW = nullptr;
    ServiceApi::OpenServiceW = nullptr;
    ServiceApi::CreateServiceW = nullptr;
    ServiceApi::ChangeServiceConfig2W = nullptr;
    ServiceApi::DeleteService = nullptr;
    ServiceApi::StartServiceW = nullptr;
    ServiceApi::ControlService = nullptr;
    ServiceApi::QueryServiceStatus = nullptr;
    ServiceApi::CloseServiceHandle = nullptr;
    ServiceApi::StartServiceCtrlDispatcherW = nullptr;
    ServiceApi::RegisterServiceCtrlHandlerW = nullptr;
    ServiceApi::SetServiceStatus = nullptr;
    ServiceApi::RegisterEventSourceW = nullptr;
    ServiceApi::ReportEventW = nullptr;
    ServiceApi::DeregisterEventSource = nullptr;
}

bool bindAll(QLibrary& library)
{
    if (library.resolve("OpenSCManagerW") == nullptr)
        return false;
    bindFunction(library, "OpenSCManagerW", ServiceApi::OpenSCManagerW);
    bindFunction(library, "OpenServiceW", ServiceApi::OpenServiceW);
    bindFunction(library, "CreateServiceW", ServiceApi::CreateServiceW);
    bindFunction(library, "ChangeServiceConfig2W", ServiceApi::ChangeServiceConfig2W);
    bindFunction(library, "DeleteService", ServiceApi::DeleteService);
    bindFunction(library, "StartServiceW", ServiceApi::StartServiceW);
    bindFunction(library, "ControlService", ServiceApi::ControlService);
    bindFunction(library, "QueryServiceStatus", ServiceApi::QueryServiceStatus);
    bindFunction(library, "CloseServiceHandle", ServiceApi::CloseServiceHandle);
    bindFunction(library, "StartServiceCtrlDispatcherW", ServiceApi::StartServiceCtrlDispatcherW);
    bindFunction(library, "RegisterServiceCtrlHandlerW", ServiceApi::RegisterServiceCtrlHandlerW);
    bindFunction(library, "SetServiceStatus", ServiceApi::SetServiceStatus);
    bindFunction(library, "RegisterEventSourceW", ServiceApi::RegisterEventSourceW);
    bindFunction(library, "ReportEventW", ServiceApi::ReportEventW);
    bindFunction(library, "DeregisterEventSource", ServiceApi::DeregisterEventSource);
    return true;
}

} // namespace

bool resolveServiceApi()
{
    if (bound.load(std::memory_order_acquire))
        return true;
    QMutexLocker lock(&bindingMutex);
    if (bound.load(std::memory_order_relaxed))
        return true;
    const QString name = libraryOverride.isEmpty() ? serviceApiLibraryName() : libraryOverride;
    // The library stays loaded for the life of the process: the object is
    // never deleted once it has served, so nothing unloads it.
    auto* library = new QLibrary(name);
    if (!library->load() || !bindAll(*library)) {
        clearFunctions();
        delete library;
        return false;
    }
    if (boundLibraries == nullptr)
        boundLibraries = new std::vector<QLibrary*>;
    boundLibraries->push_back(library);
    bound.store(true, std::memory_order_release);
    return true;
}

bool serviceApiBound()
{
    return bound.load(std::memory_order_acquire);
}

void bindServiceApiLibraryForTesting(const QString& fileName)
{
    QMutexLocker lock(&bindingMutex);
    bound.store(false, std::memory_order_release);
    clearFunctions();
    libraryOverride = fileName;
}
