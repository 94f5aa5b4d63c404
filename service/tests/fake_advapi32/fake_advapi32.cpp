#include "fake_scm.h"

#include "advapi32/control_rules.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace {

struct Handle {
    enum Kind { Manager, Service, EventSource } kind;
    DWORD access = 0;
    std::u16string name;
};

struct ControlRequest {
    DWORD control;
    bool done = false;
};

struct World {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::u16string, fakescm::ServiceRecord> services;
    std::set<Handle*> handles;
    std::vector<fakescm::OpenRecord> opens;
    std::vector<fakescm::EventEntry> eventLog;

    DWORD dispatcherFailure = 0;
    std::vector<std::u16string> startArguments;
    bool registerFails = false;
    bool registerAttempted = false;
    bool eventSourceFails = false;

    // The service hosted by this process's dispatcher.
    std::u16string hostedName;
    LPHANDLER_FUNCTION handler = nullptr;
    int statusHandleToken = 0;
    std::vector<SERVICE_STATUS> reported;
    bool stopped = false;
    std::deque<std::shared_ptr<ControlRequest>> controls;
};

// Never destroyed: a dispatcher thread may still wait in it at process exit.
World& world()
{
    static World* instance = new World;
    return *instance;
}

std::u16string text(LPCWSTR value)
{
    return value != nullptr ? std::u16string(value) : std::u16string();
}

Handle* validHandle(World& w, void* handle, Handle::Kind kind)
{
    auto* h = static_cast<Handle*>(handle);
    if (h == nullptr || w.handles.count(h) == 0 || h->kind != kind)
        return nullptr;
    return h;
}

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// Queues a control for the dispatcher thread and waits for the handler.
bool runOnDispatcher(std::unique_lock<std::mutex>& lock, DWORD control, int timeoutMs)
{
    World& w = world();
    auto request = std::make_shared<ControlRequest>(ControlRequest{control});
    w.controls.push_back(request);
    w.changed.notify_all();
    return w.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return request->done; });
}

} // namespace

namespace fakescm {

void reset()
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.services.clear();
    w.opens.clear();
    w.eventLog.clear();
    w.dispatcherFailure = 0;
    w.startArguments.clear();
    w.registerFails = false;
    w.registerAttempted = false;
    w.eventSourceFails = false;
    w.hostedName.clear();
    w.handler = nullptr;
    w.reported.clear();
    w.stopped = false;
    w.controls.clear();
}

void addService(const std::u16string& name, DWORD state, DWORD controlsAccepted)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    ServiceRecord record;
    record.name = name;
    record.displayName = name;
    record.serviceType = SERVICE_WIN32_OWN_PROCESS;
    record.startType = SERVICE_DEMAND_START;
    record.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    record.status.dwCurrentState = state;
    record.status.dwControlsAccepted = controlsAccepted;
    w.services[name] = record;
}

bool findService(const std::u16string& name, ServiceRecord* record)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    auto it = w.services.find(name);
    if (it == w.services.end())
        return false;
    *record = it->second;
    return true;
}

void setQueriesUntilStopped(const std::u16string& name, int queries)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.services[name].queriesUntilStopped = queries;
}

void setDispatcherFailure(DWORD error)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.dispatcherFailure = error;
}

void setStartArguments(const std::vector<std::u16string>& arguments)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.startArguments = arguments;
}

void setRegisterHandlerFails(bool fails)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.registerFails = fails;
}

bool registerHandlerAttempted()
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    return w.registerAttempted;
}

void setEventSourceFails(bool fails)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.eventSourceFails = fails;
}

std::vector<SERVICE_STATUS> reportedStatuses()
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    return w.reported;
}

bool waitForReportedState(DWORD state, int timeoutMs, int times)
{
    World& w = world();
    std::unique_lock<std::mutex> lock(w.mutex);
    return w.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        int seen = 0;
        for (const SERVICE_STATUS& status : w.reported)
            if (status.dwCurrentState == state)
                ++seen;
        return seen >= times;
    });
}

bool deliverControl(DWORD control, int timeoutMs)
{
    World& w = world();
    std::unique_lock<std::mutex> lock(w.mutex);
    if (w.handler == nullptr)
        return false;
    return runOnDispatcher(lock, control, timeoutMs);
}

std::vector<EventEntry> eventLog()
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    return w.eventLog;
}

std::vector<OpenRecord> opens()
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    return w.opens;
}

int openHandleCount()
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    return static_cast<int>(w.handles.size());
}

} // namespace fakescm

extern "C" {

FAKE_SCM_API SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access)
{
    if (machine != nullptr || database != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    auto* handle = new Handle{Handle::Manager, access, {}};
    w.handles.insert(handle);
    w.opens.push_back({true, access});
    return reinterpret_cast<SC_HANDLE>(handle);
}

FAKE_SCM_API SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD access)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (validHandle(w, manager, Handle::Manager) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (w.services.count(text(name)) == 0) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    auto* handle = new Handle{Handle::Service, access, text(name)};
    w.handles.insert(handle);
    w.opens.push_back({false, access});
    return reinterpret_cast<SC_HANDLE>(handle);
}

FAKE_SCM_API SC_HANDLE WINAPI CreateServiceW(SC_HANDLE manager, LPCWSTR name, LPCWSTR displayName, DWORD access,
                                             DWORD serviceType, DWORD startType, DWORD errorControl,
                                             LPCWSTR binaryPath, LPCWSTR, LPDWORD, LPCWSTR, LPCWSTR account,
                                             LPCWSTR password)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    Handle* m = validHandle(w, manager, Handle::Manager);
    if (m == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((m->access & SC_MANAGER_CREATE_SERVICE) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (name == nullptr || binaryPath == nullptr || *name == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (w.services.count(text(name)) != 0) {
        SetLastError(ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    fakescm::ServiceRecord record;
    record.name = text(name);
    record.displayName = text(displayName);
    record.binaryPath = text(binaryPath);
    record.hasAccount = account != nullptr;
    record.account = text(account);
    record.hasPassword = password != nullptr;
    record.password = text(password);
    record.serviceType = serviceType;
    record.startType = startType;
    record.errorControl = errorControl;
    record.status.dwServiceType = serviceType;
    record.status.dwCurrentState = SERVICE_STOPPED;
    w.services[record.name] = record;
    auto* handle = new Handle{Handle::Service, access, record.name};
    w.handles.insert(handle);
    return reinterpret_cast<SC_HANDLE>(handle);
}

FAKE_SCM_API BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE service, DWORD level, LPVOID info)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    Handle* h = validHandle(w, service, Handle::Service);
    if (h == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    if (level != SERVICE_CONFIG_DESCRIPTION || info == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    if ((h->access & SERVICE_CHANGE_CONFIG) == 0)
        return fail(ERROR_ACCESS_DENIED);
    w.services[h->name].description = text(static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription);
    return TRUE;
}

FAKE_SCM_API BOOL WINAPI DeleteService(SC_HANDLE service)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    Handle* h = validHandle(w, service, Handle::Service);
    if (h == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    if ((h->access & DELETE) == 0)
        return fail(ERROR_ACCESS_DENIED);
    w.services.erase(h->name);
    return TRUE;
}

FAKE_SCM_API BOOL WINAPI StartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR* argv)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    Handle* h = validHandle(w, service, Handle::Service);
    if (h == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    if ((h->access & SERVICE_START) == 0)
        return fail(ERROR_ACCESS_DENIED);
    if (argc > 0 && argv == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    fakescm::ServiceRecord& record = w.services[h->name];
    if (record.status.dwCurrentState != SERVICE_STOPPED)
        return fail(ERROR_SERVICE_ALREADY_RUNNING);
    std::vector<std::u16string> arguments;
    for (DWORD i = 0; i < argc; ++i)
        arguments.push_back(text(argv[i]));
    record.startRequests.push_back(arguments);
    record.status.dwCurrentState = SERVICE_START_PENDING;
    return TRUE;
}

FAKE_SCM_API BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status)
{
    World& w = world();
    std::unique_lock<std::mutex> lock(w.mutex);
    Handle* h = validHandle(w, service, Handle::Service);
    if (h == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    // Windows' ControlService never sends a shutdown: only the system does.
    const DWORD right = quillon::advapi32::rightForControl(control);
    if (status == nullptr || control == SERVICE_CONTROL_SHUTDOWN || right == 0)
        return fail(ERROR_INVALID_PARAMETER);
    if ((h->access & right) == 0)
        return fail(ERROR_ACCESS_DENIED);
    const std::u16string name = h->name;
    fakescm::ServiceRecord& record = w.services[name];
    // The rule of our service manager, which is Windows' rule.
    if (const DWORD refusal = quillon::advapi32::controlRefusal(control, record.status); refusal != ERROR_SUCCESS)
        return fail(refusal);
    record.controlsReceived.push_back(control);
    if (name == w.hostedName && w.handler != nullptr) {
        if (!runOnDispatcher(lock, control, 60000))
            return fail(ERROR_SERVICE_REQUEST_TIMEOUT);
        *status = w.services[name].status;
        return TRUE;
    }
    if (control == SERVICE_CONTROL_STOP)
        record.status.dwCurrentState = record.queriesUntilStopped == 0 ? SERVICE_STOPPED : SERVICE_STOP_PENDING;
    *status = record.status;
    return TRUE;
}

FAKE_SCM_API BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    Handle* h = validHandle(w, service, Handle::Service);
    if (h == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    if ((h->access & SERVICE_QUERY_STATUS) == 0)
        return fail(ERROR_ACCESS_DENIED);
    fakescm::ServiceRecord& record = w.services[h->name];
    if (record.status.dwCurrentState == SERVICE_STOP_PENDING && record.queriesUntilStopped > 0) {
        if (--record.queriesUntilStopped == 0)
            record.status.dwCurrentState = SERVICE_STOPPED;
    }
    *status = record.status;
    return TRUE;
}

FAKE_SCM_API BOOL WINAPI CloseServiceHandle(SC_HANDLE handle)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    auto* h = reinterpret_cast<Handle*>(handle);
    if (h == nullptr || w.handles.count(h) == 0 || h->kind == Handle::EventSource)
        return fail(ERROR_INVALID_HANDLE);
    w.handles.erase(h);
    delete h;
    return TRUE;
}

FAKE_SCM_API BOOL WINAPI StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table)
{
    World& w = world();
    std::unique_lock<std::mutex> lock(w.mutex);
    if (w.dispatcherFailure != 0)
        return fail(w.dispatcherFailure);
    if (table == nullptr || table[0].lpServiceName == nullptr || table[0].lpServiceProc == nullptr)
        return fail(ERROR_INVALID_PARAMETER);

    w.hostedName = text(table[0].lpServiceName);
    w.stopped = false;
    fakescm::ServiceRecord& record = w.services[w.hostedName];
    record.name = w.hostedName;
    record.status.dwCurrentState = SERVICE_START_PENDING;

    // The service main gets the name, then the start arguments, on a thread
    // of the manager's own.
    auto arguments = std::make_shared<std::vector<std::u16string>>();
    arguments->push_back(w.hostedName);
    arguments->insert(arguments->end(), w.startArguments.begin(), w.startArguments.end());
    LPSERVICE_MAIN_FUNCTIONW serviceMain = table[0].lpServiceProc;
    std::thread mainThread([arguments, serviceMain] {
        std::vector<LPWSTR> argv;
        for (std::u16string& argument : *arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        serviceMain(static_cast<DWORD>(arguments->size()), argv.data());
    });
    mainThread.detach();

    // Control requests run here, on the dispatcher's thread, until the
    // service reports that it stopped.
    for (;;) {
        w.changed.wait(lock, [&] { return w.stopped || !w.controls.empty(); });
        if (w.controls.empty())
            break;
        auto request = w.controls.front();
        w.controls.pop_front();
        LPHANDLER_FUNCTION handler = w.handler;
        lock.unlock();
        if (handler != nullptr)
            handler(request->control);
        lock.lock();
        request->done = true;
        w.changed.notify_all();
    }
    w.handler = nullptr;
    return TRUE;
}

FAKE_SCM_API SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerW(LPCWSTR name, LPHANDLER_FUNCTION handler)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.registerAttempted = true;
    w.changed.notify_all();
    if (w.registerFails || handler == nullptr) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    if (text(name) != w.hostedName) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    w.handler = handler;
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(&w.statusHandleToken);
}

FAKE_SCM_API BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (handle != reinterpret_cast<SERVICE_STATUS_HANDLE>(&w.statusHandleToken) || w.hostedName.empty())
        return fail(ERROR_INVALID_HANDLE);
    if (status == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    w.reported.push_back(*status);
    w.services[w.hostedName].status = *status;
    if (status->dwCurrentState == SERVICE_STOPPED)
        w.stopped = true;
    w.changed.notify_all();
    return TRUE;
}

FAKE_SCM_API HANDLE WINAPI RegisterEventSourceW(LPCWSTR server, LPCWSTR source)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (server != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (w.eventSourceFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    auto* handle = new Handle{Handle::EventSource, 0, text(source)};
    w.handles.insert(handle);
    return handle;
}

FAKE_SCM_API BOOL WINAPI ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID,
                                      WORD stringCount, DWORD dataSize, LPCWSTR* strings, LPVOID rawData)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    Handle* h = validHandle(w, eventLog, Handle::EventSource);
    if (h == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    if ((stringCount > 0 && strings == nullptr) || (dataSize > 0 && rawData == nullptr))
        return fail(ERROR_INVALID_PARAMETER);
    fakescm::EventEntry entry;
    entry.source = h->name;
    entry.type = type;
    entry.category = category;
    entry.eventId = eventId;
    for (WORD i = 0; i < stringCount; ++i)
        entry.strings.push_back(text(strings[i]));
    entry.dataSize = dataSize;
    entry.dataPointerNull = rawData == nullptr;
    const auto* bytes = static_cast<const unsigned char*>(rawData);
    if (bytes != nullptr)
        entry.data.assign(bytes, bytes + dataSize);
    w.eventLog.push_back(entry);
    return TRUE;
}

FAKE_SCM_API BOOL WINAPI DeregisterEventSource(HANDLE eventLog)
{
    World& w = world();
    std::lock_guard<std::mutex> lock(w.mutex);
    Handle* h = validHandle(w, eventLog, Handle::EventSource);
    if (h == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    w.handles.erase(h);
    delete h;
    return TRUE;
}

} // extern "C"
