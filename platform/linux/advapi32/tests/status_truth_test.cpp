// What the manager reports while services start, stop and die: polled as a
// monitor polls, and read back from the event log an operator reads.
#include "service_fixture.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace quillon::advapi32::test;

namespace {

class StatusTruth : public ServiceTest {
protected:
    // The entries of the service's own event log with this text.
    std::vector<LogEntry> entriesWith(const std::string& key, const std::string& text)
    {
        std::vector<LogEntry> found;
        for (const LogEntry& entry : readEventLog(stateDir + "/eventlog/" + key + ".jsonl")) {
            const auto t = entry.text.find("text");
            if (t != entry.text.end() && t->second == text)
                found.push_back(entry);
        }
        return found;
    }

    void killAndWait(int pid)
    {
        ASSERT_GT(pid, 0);
        ASSERT_NE(pid, ::getpid());
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        // It is init's child: gone once init has reaped it.
        for (int i = 0; i < 1500 && ::kill(pid, 0) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_NE(::kill(pid, 0), 0) << "process " << pid << " still there";
    }
};

// A monitor that polls every 2 ms through quick starts and stops sees each
// start as start-pending, never as a process that terminated unexpectedly.
TEST_F(StatusTruth, APollerSeesNoCrashThroughQuickStartsAndStops)
{
    SC_HANDLE service = install("Quick", "");
    ASSERT_NE(service, nullptr);
    struct Seen {
        DWORD state;
        DWORD exitCode;
    };
    std::mutex mutex;
    std::vector<Seen> seen;
    std::atomic<bool> done {false};
    std::thread poller([&] {
        while (!done) {
            SERVICE_STATUS status {};
            if (QueryServiceStatus(service, &status)) {
                std::lock_guard<std::mutex> lock(mutex);
                if (seen.empty() || seen.back().state != status.dwCurrentState
                    || seen.back().exitCode != status.dwWin32ExitCode)
                    seen.push_back({status.dwCurrentState, status.dwWin32ExitCode});
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    for (int cycle = 0; cycle < 5; ++cycle) {
        SCOPED_TRACE(cycle);
        EXPECT_TRUE(start(service)) << GetLastError();
        EXPECT_TRUE(waitForState(service, SERVICE_RUNNING));
        SERVICE_STATUS status {};
        EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
        EXPECT_TRUE(waitForState(service, SERVICE_STOPPED));
    }
    done = true;
    poller.join();

    std::lock_guard<std::mutex> lock(mutex);
    std::string sequence;
    for (const Seen& s : seen)
        sequence += std::to_string(s.state) + "/" + std::to_string(s.exitCode) + " ";
    // Each start: (stopped) -> start-pending -> running -> stop-pending -> stopped, 0.
    const auto order = [](DWORD state) {
        switch (state) {
        case SERVICE_START_PENDING: return 1;
        case SERVICE_RUNNING: return 2;
        case SERVICE_STOP_PENDING: return 3;
        default: return 0;
        }
    };
    ASSERT_FALSE(seen.empty());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        if (seen[i].state == SERVICE_STOPPED) {
            EXPECT_TRUE(seen[i].exitCode == 0 || seen[i].exitCode == ERROR_SERVICE_NEVER_STARTED)
                << "a stop that reads as " << seen[i].exitCode << ": " << sequence;
        }
        if (i > 0 && seen[i].state != SERVICE_STOPPED && seen[i - 1].state != SERVICE_STOPPED) {
            EXPECT_GT(order(seen[i].state), order(seen[i - 1].state)) << sequence;
        }
    }
}

// A service that dies without reporting stopped leaves one error entry per
// death, whether a query, a start or a control finds it gone, and reads as
// stopped with ERROR_PROCESS_ABORTED.
TEST_F(StatusTruth, AServiceThatDiesLeavesOneEntryPerDeath)
{
    SC_HANDLE service = install("Dies", "");
    ASSERT_NE(service, nullptr);
    const std::string trace = "The Dies service terminated unexpectedly.";
    const struct {
        const char* foundBy;
        std::function<void()> find;
    } cases[] = {
        {"a status query", [&] { query(service); }},
        {"a control", [&] {
             SERVICE_STATUS status {};
             EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status));
             EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);
         }},
        {"a start", [&] { EXPECT_TRUE(start(service)) << GetLastError(); }},
    };
    std::size_t deaths = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.foundBy);
        if (query(service).dwCurrentState != SERVICE_RUNNING) {
            ASSERT_TRUE(start(service)) << GetLastError();
            ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
        }
        killAndWait(servicePid("Dies"));
        ++deaths;
        c.find();
        ASSERT_EQ(entriesWith("dies", trace).size(), deaths);
        // Found again, by a query: the same death.
        query(service);
        const auto entries = entriesWith("dies", trace);
        ASSERT_EQ(entries.size(), deaths);
        EXPECT_EQ(entries.back().text.at("type"), "error");
        EXPECT_EQ(entries.back().number.at("eventId"), 7034);
    }
    // The start above found the last death and started the service again.
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
    killAndWait(servicePid("Dies"));
    const SERVICE_STATUS status = query(service);
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(status.dwWin32ExitCode, ERROR_PROCESS_ABORTED);
    EXPECT_EQ(entriesWith("dies", trace).size(), deaths + 1);

    // A service that stops as it should leaves no such entry.
    ASSERT_TRUE(start(service)) << GetLastError();
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
    SERVICE_STATUS stopped {};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &stopped)) << GetLastError();
    ASSERT_TRUE(waitForState(service, SERVICE_STOPPED));
    EXPECT_EQ(query(service).dwWin32ExitCode, 0u);
    EXPECT_EQ(entriesWith("dies", trace).size(), deaths + 1);
}

} // namespace
