// What a service process under an account can do to itself and to what root
// handed it, and what it inherits from whoever started it: rows 15 to 17.
#include "security_fixture.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sstream>
#include <sys/resource.h>

using namespace quillon::advapi32::test;

namespace {

// Clock ticks of CPU time the process has used so far (user and system).
long long cpuTicks(int pid)
{
    const std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long long user = 0;
    long long system = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            user = std::stoll(field);
        if (index == 15) {
            system = std::stoll(field);
            break;
        }
    }
    return user + system;
}

constexpr int kCapSysResource = 24;

bool hasCapability(int capability)
{
    std::istringstream status(readText("/proc/self/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("CapEff:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> capability & 1U) != 0;
    }
    return false;
}

class AccountService : public Security {
protected:
    SC_HANDLE startAsNobody()
    {
        SC_HANDLE service = installAsNobody("Nobody");
        EXPECT_NE(service, nullptr);
        if (service == nullptr)
            return nullptr;
        EXPECT_TRUE(start(service)) << GetLastError();
        EXPECT_TRUE(waitForState(service, SERVICE_RUNNING));
        return service;
    }
    void stopAndExpectStopped(SC_HANDLE service)
    {
        SERVICE_STATUS status {};
        EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
        EXPECT_TRUE(waitForState(service, SERVICE_STOPPED));
        EXPECT_EQ(query(service).dwWin32ExitCode, 0u);
    }
};

// 15: a service whose descriptors run out does not spin on its control
// socket, and takes controls again once it has descriptors.
TEST_F(AccountService, Row15_AServiceOutOfDescriptorsTakesControlsAgainWhenTheyReturn)
{
    SC_HANDLE service = startAsNobody();
    ASSERT_NE(service, nullptr);
    const int pid = servicePid("Nobody");
    SERVICE_STATUS status {};
    ASSERT_TRUE(ControlService(service, 252, &status)) << GetLastError();
    waitForRecord("descriptors exhausted");
    const long long before = cpuTicks(pid);
    // Waits in the socket's queue until the service can take it.
    BOOL answered = FALSE;
    std::thread asking([&] {
        SERVICE_STATUS interrogated {};
        answered = ControlService(service, SERVICE_CONTROL_INTERROGATE, &interrogated);
    });
    waitForRecord("descriptors back");
    const long long during = cpuTicks(pid) - before;
    asking.join();
    EXPECT_TRUE(answered) << GetLastError();
    // It held them for a second; spinning on accept() takes all of it.
    std::printf("CPU ticks while out of descriptors for a second: %lld of %ld\n", during, ::sysconf(_SC_CLK_TCK));
    EXPECT_LT(during, ::sysconf(_SC_CLK_TCK) / 4) << "CPU ticks while out of descriptors";
    stopAndExpectStopped(service);
}

// 16: what the service writes through the status file it was handed is its
// own file, and root reads one record of it: a service cannot grow a file of
// root's, nor keep root from reading or stopping it.
TEST_F(AccountService, Row16_AServiceCannotGrowRootsStatusRecord)
{
    SC_HANDLE service = startAsNobody();
    ASSERT_NE(service, nullptr);
    SERVICE_STATUS status {};
    ASSERT_TRUE(ControlService(service, 253, &status)) << GetLastError();
    waitForRecord("status grown");
    const std::string run = stateDir + "/run/nobody";
    struct stat info {};
    ASSERT_EQ(::stat((run + "/status").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, kNobody) << "the grown file is charged to root";
    if (DIR* dir = ::opendir(run.c_str()); dir != nullptr) {
        while (const dirent* entry = ::readdir(dir)) {
            struct stat file {};
            if (::lstat((run + "/" + entry->d_name).c_str(), &file) == 0 && S_ISREG(file.st_mode) && file.st_uid == 0) {
                EXPECT_LE(file.st_size, 4096) << entry->d_name;
            }
        }
        ::closedir(dir);
    }
    EXPECT_EQ(query(service).dwCurrentState, SERVICE_RUNNING);
    stopAndExpectStopped(service);
}

// 17: a service starts with the system's resource limits and niceness (those
// of init), not with those of whoever started it.
TEST_F(AccountService, Row17_AServiceGetsTheSystemsLimitsAndNicenessNotItsStarters)
{
    SC_HANDLE service = installAsNobody("Nobody");
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(runTool({"start-lowered", "Nobody"}), 0);
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
    std::vector<std::string> limits;
    for (const std::string& line : recordLines()) {
        if (line.rfind("limits ", 0) == 0) {
            std::istringstream words(line.substr(7));
            for (std::string word; words >> word;)
                limits.push_back(word);
        }
    }
    ASSERT_EQ(limits.size(), static_cast<std::size_t>(RLIMIT_NLIMITS) + 1);
    errno = 0;
    EXPECT_EQ(limits.back(), "nice=" + std::to_string(::getpriority(PRIO_PROCESS, 1)));
    // Root without CAP_SYS_RESOURCE (most containers) cannot raise a hard
    // limit above the starter's: the service then comes as close as it may.
    const bool mayRaise = hasCapability(kCapSysResource);
    for (int resource = 0; resource < RLIMIT_NLIMITS; ++resource) {
#ifdef QUILLON_SANITIZER_BUILD
        // The sanitizers set the core size in every process they run.
        if (resource == RLIMIT_CORE)
            continue;
#endif
        const auto which = static_cast<__rlimit_resource>(resource);
        rlimit init {};
        rlimit starter {};
        ASSERT_EQ(::prlimit(1, which, nullptr, &init), 0);
        ASSERT_EQ(::getrlimit(which, &starter), 0);
        if (resource == RLIMIT_NOFILE)
            starter.rlim_max = 77;
        const rlim_t hard = mayRaise ? init.rlim_max : std::min(init.rlim_max, starter.rlim_max);
        EXPECT_EQ(limits[static_cast<std::size_t>(resource)],
                  std::to_string(std::min(init.rlim_cur, hard)) + ":" + std::to_string(hard))
            << "resource " << resource;
    }
    stopAndExpectStopped(service);
}

} // namespace
