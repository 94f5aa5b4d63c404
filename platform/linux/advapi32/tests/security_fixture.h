// The layer as root meets a local user who attacks it. Each test acts as that
// user (setpriv to uid and gid 65534, no groups), asserts that the attack
// fails, and that the service still works. They run as root; elsewhere they
// are skipped, since nothing can be switched to.
#pragma once

#include "other_user.h"
#include "service_fixture.h"

#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quillon::advapi32::test {

inline constexpr uid_t kNobody = quillon::testing::kNobody;
inline constexpr auto kAttackLimit = std::chrono::seconds(60);

inline bool exists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

class Security : public ServiceTest {
protected:
    void SetUp() override
    {
        if (const std::string why = quillon::testing::otherUserUnavailable(); !why.empty())
            GTEST_SKIP() << why;
        ServiceTest::SetUp();
        // What a real state directory looks like: root's, open to read.
        ASSERT_EQ(::chmod(stateDir.c_str(), 0755), 0);
        ASSERT_EQ(::close(::open(recordPath.c_str(), O_WRONLY | O_CREAT, 0666)), 0);
        ASSERT_EQ(::chmod(recordPath.c_str(), 0666), 0);
        // A root-only file the attacker would like to own or change.
        victim = stateDir + "-victim";
        {
            std::ofstream out(victim);
            out << "root's secret\n";
        }
        ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
        // A folder where the attacker may write, like /tmp.
        playground = stateDir + "-playground";
        ASSERT_EQ(::mkdir(playground.c_str(), 01777), 0);
        ASSERT_EQ(::chmod(playground.c_str(), 01777), 0);
    }

    void TearDown() override
    {
        if (!quillon::testing::otherUserUnavailable().empty())
            return;
        for (auto& holder : holders)
            holder.kill();
        ServiceTest::TearDown();
        ::unlink(victim.c_str());
        EXPECT_EQ(::system(("rm -rf '" + playground + "'").c_str()), 0);
    }

    // Runs a shell command as the attacker; its exit status.
    int attack(const std::string& command)
    {
        quillon::testing::RunningProgram attacker = spawnProgram(quillon::testing::shellAsNobody(command));
        return waitProgramFor(attacker, kAttackLimit);
    }
    // Starts one that keeps running (it is killed at the end).
    void attackInBackground(const std::string& command)
    {
        holders.push_back(spawnProgram(quillon::testing::shellAsNobody(command)));
    }
    // Waits until the attacker's marker file is there.
    bool waitForMarker(const std::string& path)
    {
        const auto deadline = std::chrono::steady_clock::now() + kAttackLimit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (exists(path))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    SC_HANDLE installAsNobody(const std::string& name, const std::string& program = toolPath())
    {
        const std::string commandLine = "\"" + program + "\" service --record=" + recordPath;
        SC_HANDLE service = CreateServiceW(manager, wide(name).c_str(), nullptr, SERVICE_ALL_ACCESS,
                                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, 1,
                                           wide(commandLine).c_str(), nullptr, nullptr, nullptr,
                                           u".\\nobody", nullptr);
        EXPECT_NE(service, nullptr) << GetLastError();
        if (service != nullptr) {
            handles.push_back(service);
            installed.push_back(name);
        }
        return service;
    }

    // Starts, sees it run, stops, sees it stop.
    void expectServiceWorks(SC_HANDLE service)
    {
        ASSERT_TRUE(start(service)) << GetLastError();
        ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
        SERVICE_STATUS status {};
        ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
        ASSERT_TRUE(waitForState(service, SERVICE_STOPPED));
        EXPECT_EQ(query(service).dwWin32ExitCode, 0u);
    }

    void expectVictimUntouched()
    {
        struct stat info {};
        ASSERT_EQ(::lstat(victim.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_uid, 0u);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_EQ(readText(victim), "root's secret\n");
    }

    void reportAsRoot(const std::string& source, const std::string& text)
    {
        HANDLE log = RegisterEventSourceW(nullptr, wide(source).c_str());
        ASSERT_NE(log, nullptr);
        const std::u16string wideText = wide(text);
        LPCWSTR strings[] = {wideText.c_str()};
        EXPECT_TRUE(ReportEventW(log, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr))
            << GetLastError();
        DeregisterEventSource(log);
    }

    // A folder of root's with this mode, whatever the umask.
    static std::string rootFolder(const std::string& path, mode_t mode)
    {
        EXPECT_EQ(::mkdir(path.c_str(), mode), 0) << path;
        EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
        return path;
    }

    std::string victim;
    std::string playground;
    std::vector<quillon::testing::RunningProgram> holders;
};

// Every folder of the state directory is root's and writable by no one
// else; the only exceptions are the event-log folder root gives an account
// and what root moved aside and never opens.
inline std::vector<std::string> foldersOthersCanChange(const std::string& stateDir)
{
    static std::vector<std::string>* found;
    static std::string accounts;
    std::vector<std::string> result;
    found = &result;
    accounts = stateDir + "/eventlog/accounts/";
    ::nftw(stateDir.c_str(), [](const char* path, const struct stat* info, int type, FTW*) {
        const std::string p = path;
        const bool accountFolder = p.rfind(accounts, 0) == 0 && p.find('/', accounts.size()) == std::string::npos;
        // What was moved aside is never opened again.
        const bool setAside = p.find("/.untrusted.") != std::string::npos;
        if (type == FTW_D && !accountFolder && !setAside && (info->st_uid != 0 || (info->st_mode & 022) != 0))
            found->push_back(p);
        return 0;
    }, 16, FTW_PHYS);
    return result;
}

} // namespace quillon::advapi32::test
