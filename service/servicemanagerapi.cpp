#include "servicemanagerapi_p.h"

#include "platform/service_api_library.h"

#include <QLibrary>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <type_traits>
#include <vector>

// The list's prototypes are the system's: on Windows those of its own headers,
// so a list that drifts from them fails here.
#define QUILLON_SERVICE_MANAGER_FUNCTION(name, result, parameters)                        \
    static_assert(std::is_same_v<decltype(&::name), result(WINAPI*) parameters>,          \
                  #name " differs from the system's declaration");
#include "platform/service_manager_functions.def"
#undef QUILLON_SERVICE_MANAGER_FUNCTION

namespace ServiceApi {
#define QUILLON_SERVICE_MANAGER_FUNCTION(name, result, parameters) decltype(&::name) name = nullptr;
#include "platform/service_manager_functions.def"
#undef QUILLON_SERVICE_MANAGER_FUNCTION
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
#define QUILLON_SERVICE_MANAGER_FUNCTION(name, result, parameters) ServiceApi::name = nullptr;
#include "platform/service_manager_functions.def"
#undef QUILLON_SERVICE_MANAGER_FUNCTION
}

bool bindAll(QLibrary& library)
{
    // The library is the service manager when it has this one.
    if (library.resolve("OpenSCManagerW") == nullptr)
        return false;
#define QUILLON_SERVICE_MANAGER_FUNCTION(name, result, parameters) bindFunction(library, #name, ServiceApi::name);
#include "platform/service_manager_functions.def"
#undef QUILLON_SERVICE_MANAGER_FUNCTION
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
