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
    // Live processes running the test service with this test's record file.
    std::vector<int> instances()
    {
        std::vector<int> found;
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
            if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z')
                found.push_back(static_cast<int>(pid));
        }
        if (proc != nullptr)
            ::closedir(proc);
        return found;
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
    std::thread sampler([&] {
        while (sampling.load()) {
            const std::size_t now = instances().size();
            std::size_t seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    int started = 0;
    int timedOut = 0;
    for (int round = 0; round < kRounds && most.load() <= 1; ++round) {
        std::vector<int> steps;
        for (int i = 0; i < 3; ++i)
            steps.push_back(spawnTool({"start", "Storm"}));
        steps.push_back(spawnTool({"delete", "Storm"}));
        steps.push_back(spawnTool({"create", "Storm", commandLine}));
        steps.push_back(spawnTool({"control", "Storm", "1"}));
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const int result = waitProgramFor(steps[i], kStepLimit);
            started += i < 3 && result == 0;
            timedOut += result == -2;
        }
    }
    sampling = false;
    sampler.join();
    ::unsetenv("QUILLON_SCM_TIMEOUT_MS");

    EXPECT_LE(most.load(), 1u) << "two service processes of one name at once";
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
