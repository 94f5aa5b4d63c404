#include "status_poller.h"

#include <algorithm>

namespace quillon::testing {

namespace {

// The manager's and the service's handles, opened again when a query fails
// (the entry may come and go while a test runs).
class ServiceQuery
{
public:
    explicit ServiceQuery(const std::u16string& serviceName)
        : name(serviceName)
    {
    }
    ~ServiceQuery() { close(); }

    SERVICE_STATUS query()
    {
        SERVICE_STATUS status {};
        if (service == nullptr)
            open();
        if (service == nullptr || !QueryServiceStatus(service, &status)) {
            close();
            status = SERVICE_STATUS {};
        }
        return status;
    }

private:
    void open()
    {
        manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (manager != nullptr)
            service = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS);
    }
    void close()
    {
        if (service != nullptr)
            CloseServiceHandle(service);
        if (manager != nullptr)
            CloseServiceHandle(manager);
        service = nullptr;
        manager = nullptr;
    }

    const std::u16string name;
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
};

} // namespace

StatusPoller::StatusPoller(std::u16string serviceName, std::chrono::milliseconds pollInterval)
    : name(std::move(serviceName))
    , interval(pollInterval)
    , poller([this] { poll(); })
{
}

StatusPoller::~StatusPoller()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    poller.join();
}

void StatusPoller::poll()
{
    ServiceQuery service(name);
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        lock.unlock();
        const SERVICE_STATUS status = service.query();
        const auto now = std::chrono::system_clock::now();
        lock.lock();
        if (seen.empty() || seen.back().state != status.dwCurrentState
            || seen.back().win32ExitCode != status.dwWin32ExitCode
            || seen.back().specificExitCode != status.dwServiceSpecificExitCode) {
            seen.push_back({now, status.dwCurrentState, status.dwWin32ExitCode, status.dwServiceSpecificExitCode});
            changed.notify_all();
        }
        changed.wait_for(lock, interval, [this] { return stopping; });
    }
}

std::vector<StatusChange> StatusPoller::changes() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return seen;
}

bool StatusPoller::waitFor(DWORD state, DWORD after, std::chrono::milliseconds limit) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, limit, [&] {
        const auto first = std::find_if(seen.begin(), seen.end(), [after](const StatusChange& c) { return c.state == after; });
        return first != seen.end()
               && std::any_of(first + 1, seen.end(), [state](const StatusChange& c) { return c.state == state; });
    });
}

std::vector<DWORD> statesSince(const std::vector<StatusChange>& changes, DWORD from)
{
    std::vector<DWORD> states;
    const auto first = std::find_if(changes.begin(), changes.end(),
                                    [from](const StatusChange& c) { return c.state == from; });
    for (auto c = first; c != changes.end(); ++c) {
        if (states.empty() || states.back() != c->state)
            states.push_back(c->state);
    }
    return states;
}

const StatusChange* firstChangeTo(const std::vector<StatusChange>& changes, DWORD state)
{
    const auto first = std::find_if(changes.begin(), changes.end(),
                                    [state](const StatusChange& c) { return c.state == state; });
    return first != changes.end() ? &*first : nullptr;
}

std::string stateName(DWORD state)
{
    switch (state) {
    case 0: return "NONE";
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case SERVICE_PAUSED: return "PAUSED";
    default: return std::to_string(state);
    }
}

std::string stateNames(const std::vector<DWORD>& states)
{
    std::string text;
    for (const DWORD state : states)
        text += (text.empty() ? "" : " -> ") + stateName(state);
    return text;
}

} // namespace quillon::testing
