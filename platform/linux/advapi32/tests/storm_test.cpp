// At most one instance of a service whatever runs at once: starts, a delete,
// an install and a stop of one name, together, round after round, while the
// service processes of that name are counted.
#include "service_fixture.h"

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <thread>

using namespace quillon::advapi32::test;

namespace {

constexpr int kRounds = 50;
constexpr auto kStepLimit = std::chrono::seconds(60);

class ServiceStorm : public ServiceTest {
protected:
    // Live processes running the test service with this test's record file,
    // less their own children (LeakSanitizer's tracer at exit is one).
    std::vector<int> instances()
    {
        std::vector<std::pair<int, long>> found; // pid, parent
        const std::string wanted = toolPath() + '\0' + "service" + '\0' + "--record=" + recordPath + '\0';
        DIR* proc = ::opendir("/proc");
        while (const dirent* entry = proc != nullptr ? ::readdir(proc) : nullptr) {
            char* end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (*end != '\0' || pid <= 0)
                continue;
            const std::string base = "/proc/" + std::to_string(pid);
            if (readText(base + "/cmdline").rfind(wanted, 0) != 0)
                continue;
            const std::string stat = readText(base + "/stat");
            const std::size_t close = stat.rfind(')');
            if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z')
                continue;
            found.emplace_back(static_cast<int>(pid), std::strtol(stat.c_str() + close + 4, nullptr, 10));
        }
        if (proc != nullptr)
            ::closedir(proc);
        std::vector<int> services;
        for (const auto& [pid, parent] : found) {
            if (std::none_of(found.begin(), found.end(), [&](const auto& other) { return other.first == parent; }))
                services.push_back(pid);
        }
        return services;
    }
};

TEST_F(ServiceStorm, StartsDeleteInstallAndStopAtOnceLeaveOneInstanceAtMost)
{
    SC_HANDLE service = install("Storm", "");
    ASSERT_NE(service, nullptr);
    const std::string commandLine = "\"" + toolPath() + "\" service --record=" + recordPath + " ";
    // Bounded steps even when one waits for another.
    ::setenv("QUILLON_SCM_TIMEOUT_MS", "10000", 1);

    std::atomic<bool> sampling {true};
    std::atomic<std::size_t> most {0};
    std::string seenTwice; // what the processes and records were, the first time
    std::thread sampler([&] {
        while (sampling.load()) {
            const std::vector<int> now = instances();
            std::size_t seen = most.load();
            while (now.size() > seen && !most.compare_exchange_weak(seen, now.size())) {
            }
            if (now.size() > 1 && seenTwice.empty()) {
                for (const int pid : now)
                    seenTwice += readText("/proc/" + std::to_string(pid) + "/stat") + "\n";
                seenTwice += "instance: " + readText(stateDir + "/run/storm/instance") + "status: "
                             + readText(stateDir + "/run/storm/status");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    int started = 0;
    int timedOut = 0;
    for (int round = 0; round < kRounds && most.load() <= 1; ++round) {
        std::vector<quillon::testing::RunningProgram> steps;
        for (int i = 0; i < 3; ++i)
            steps.push_back(spawnTool({"start", "Storm"}));
        steps.push_back(spawnTool({"delete", "Storm"}));
        steps.push_back(spawnTool({"create", "Storm", commandLine}));
        steps.push_back(spawnTool({"control", "Storm", "1"}));
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const int result = waitProgramFor(steps[i], kStepLimit);
            started += i < 3 && result == 0;
            timedOut += result == quillon::testing::ProgramOutcome::notEnded;
        }
    }
    sampling = false;
    sampler.join();
    ::unsetenv("QUILLON_SCM_TIMEOUT_MS");

    EXPECT_LE(most.load(), 1u) << "two service processes of one name at once:\n" << seenTwice;
    EXPECT_EQ(timedOut, 0);
    EXPECT_GT(started, 0) << "the service never started: the storm showed nothing";
    // What is left is consistent: one process while it reads as running.
    SC_HANDLE left = OpenServiceW(manager, u"Storm", SERVICE_ALL_ACCESS);
    if (left != nullptr) {
        handles.push_back(left);
        if (query(left).dwCurrentState == SERVICE_RUNNING) {
            EXPECT_EQ(instances().size(), 1u);
        }
    }
    for (const int pid : instances())
        ::kill(pid, SIGKILL);
}

} // namespace
