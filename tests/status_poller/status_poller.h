// What the service manager reports of one service over time, as a monitor
// sees it: QueryServiceStatus through our Linux layer every 2 ms, on a thread
// of its own, keeping each change with the moment it was first seen. For the
// end-to-end tests, which check the order of states by this alone.
#pragma once

#include "platform/win32_service.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillon::testing {

struct StatusChange {
    std::chrono::system_clock::time_point at;
    // 0 while the service cannot be queried (not installed, say).
    DWORD state = 0;
    DWORD win32ExitCode = 0;
    DWORD specificExitCode = 0;
};

class StatusPoller
{
public:
    explicit StatusPoller(std::u16string serviceName,
                          std::chrono::milliseconds interval = std::chrono::milliseconds(2));
    // Stops polling.
    ~StatusPoller();

    StatusPoller(const StatusPoller&) = delete;
    StatusPoller& operator=(const StatusPoller&) = delete;

    std::vector<StatusChange> changes() const;
    // Waits, at most `limit`, until the state has been seen after the first
    // change to `after`.
    bool waitFor(DWORD state, DWORD after, std::chrono::milliseconds limit) const;

private:
    void poll();

    const std::u16string name;
    const std::chrono::milliseconds interval;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<StatusChange> seen;
    bool stopping = false;
    std::thread poller;
};

// The states of the changes from the first one in `from` on (none when it
// was never seen).
std::vector<DWORD> statesSince(const std::vector<StatusChange>& changes, DWORD from);
// The first change to the state, or nullptr.
const StatusChange* firstChangeTo(const std::vector<StatusChange>& changes, DWORD state);
// A state's name for messages ("START_PENDING").
std::string stateName(DWORD state);
std::string stateNames(const std::vector<DWORD>& states);

} // namespace quillon::testing
