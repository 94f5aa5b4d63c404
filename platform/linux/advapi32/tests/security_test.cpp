// The layer as root meets a local user who attacks it. Each test acts as that
// user (setpriv to uid and gid 65534, no groups), asserts that the attack
// fails, and that the service still works. They run as root; elsewhere they
// are skipped, since nothing can be switched to.
#include "service_fixture.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace quillon::advapi32::test;

namespace {

constexpr uid_t kNobody = 65534;
constexpr auto kAttackLimit = std::chrono::seconds(60);

bool exists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

class Security : public ServiceTest {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "acting as another user needs root";
        if (::access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "setpriv (util-linux) is not installed";
        // What root runs here must be out of the attacker's reach too: no
        // folder on the way to the test programs may be writable by others.
        for (std::string path = toolPath(); path.size() > 1; path = path.substr(0, path.rfind('/'))) {
            struct stat info {};
            ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
            ASSERT_TRUE((info.st_mode & 022) == 0 || (S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0))
                << path << " can be changed by others: the test would run what they put there";
            if (path.rfind('/') == 0)
                break;
        }
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
        if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
            return;
        for (auto& holder : holders)
            holder.kill();
        ServiceTest::TearDown();
        ::unlink(victim.c_str());
        EXPECT_EQ(::system(("rm -rf '" + playground + "'").c_str()), 0);
    }

    std::vector<std::string> asNobody(const std::string& command)
    {
        return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", "/bin/sh", "-c",
                command};
    }
    // Runs a shell command as the attacker; its exit status.
    int attack(const std::string& command)
    {
        quillon::testing::RunningProgram attacker = spawnProgram(asNobody(command));
        return waitProgramFor(attacker, kAttackLimit);
    }
    // Starts one that keeps running (it is killed at the end).
    void attackInBackground(const std::string& command)
    {
        holders.push_back(spawnProgram(asNobody(command)));
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

    SC_HANDLE installAsNobody(const std::string& name)
    {
        const std::string commandLine = "\"" + toolPath() + "\" service --record=" + recordPath;
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

    std::string victim;
    std::string playground;
    std::vector<quillon::testing::RunningProgram> holders;
};

// Every folder of the state directory is root's and writable by no one
// else; the only exception is the event-log folder root gives an account.
std::vector<std::string> foldersOthersCanChange(const std::string& stateDir)
{
    static std::vector<std::string>* found;
    static std::string accounts;
    std::vector<std::string> result;
    found = &result;
    accounts = stateDir + "/eventlog/accounts/";
    ::nftw(stateDir.c_str(), [](const char* path, const struct stat* info, int type, FTW*) {
        const std::string p = path;
        const bool accountFolder = p.rfind(accounts, 0) == 0 && p.find('/', accounts.size()) == std::string::npos;
        if (type == FTW_D && !accountFolder && (info->st_uid != 0 || (info->st_mode & 022) != 0))
            found->push_back(p);
        return 0;
    }, 16, FTW_PHYS);
    return result;
}

// 1: the log file as a link to a root file; the account's own log likewise.
TEST_F(Security, Row1_NoLinkInTheStateDirectoryIsFollowed)
{
    SC_HANDLE service = installAsNobody("Nobody");
    ASSERT_NE(service, nullptr);
    expectServiceWorks(service);
    reportAsRoot("Nobody", "root's entry");

    EXPECT_NE(attack("ln -sf '" + victim + "' '" + stateDir + "/eventlog/nobody.jsonl'"), 0);
    EXPECT_NE(attack("ln -sf '" + victim + "' '" + stateDir + "/run/nobody/status'"), 0);
    EXPECT_NE(attack("ln -sf '" + victim + "' '" + stateDir + "/run/nobody/control.sock'"), 0);
    // Its own folder is its own: it may put a link there, root never looks.
    ASSERT_EQ(attack("ln -sf '" + victim + "' '" + stateDir + "/eventlog/accounts/nobody/nobody.jsonl'"), 0);

    expectServiceWorks(service);
    reportAsRoot("Nobody", "root's second entry");
    expectVictimUntouched();
    EXPECT_EQ(foldersOthersCanChange(stateDir), std::vector<std::string>());
    EXPECT_EQ(readEventLog(stateDir + "/eventlog/nobody.jsonl").size(), 2u);
}

// 2: links in the run folder, where root makes its start lock and files.
TEST_F(Security, Row2_TheRunFolderAndLocksAreRootsAlone)
{
    SC_HANDLE service = installAsNobody("Nobody");
    ASSERT_NE(service, nullptr);
    expectServiceWorks(service);
    const std::string planted = playground + "/root-created-this";
    for (const std::string& path : {stateDir + "/run/nobody/start.lock", stateDir + "/run/nobody/instance.tmp",
                                    stateDir + "/run/nobody/.status.tmp.1.0", stateDir + "/locks/nobody.start",
                                    stateDir + "/locks/registry", stateDir + "/services/evil.conf"})
        EXPECT_NE(attack("ln -sf '" + planted + "' '" + path + "'"), 0) << path;

    struct stat run {};
    ASSERT_EQ(::stat((stateDir + "/run/nobody").c_str(), &run), 0);
    EXPECT_EQ(run.st_uid, 0u);
    EXPECT_EQ(run.st_mode & 07777, 0755u);
    expectServiceWorks(service);
    EXPECT_FALSE(exists(planted));
    EXPECT_EQ(foldersOthersCanChange(stateDir), std::vector<std::string>());
}

// 3: locks an attacker holds, and a log it locks.
TEST_F(Security, Row3_NoOneElseCanHoldALockAndEveryWaitIsBounded)
{
    SC_HANDLE service = installAsNobody("Nobody");
    ASSERT_NE(service, nullptr);
    expectServiceWorks(service);
    reportAsRoot("Nobody", "root's entry");
    for (const std::string& lock : {stateDir + "/locks/registry", stateDir + "/locks/nobody.start"})
        EXPECT_NE(attack("flock -x -w 1 '" + lock + "' true"), 0) << lock;
    // It may read the log, and so lock it: no writer waits for that lock.
    const std::string held = playground + "/holding";
    attackInBackground("exec 9< '" + stateDir + "/eventlog/nobody.jsonl' && flock -x 9 && touch '" + held
                       + "' && exec sleep 120");
    ASSERT_TRUE(waitForMarker(held));
    reportAsRoot("Nobody", "written while locked");
    expectServiceWorks(service);
    EXPECT_EQ(readEventLog(stateDir + "/eventlog/nobody.jsonl").size(), 2u);

    // Root's own locks held too long end in a clear error, not a hang.
    ::setenv("QUILLON_SCM_TIMEOUT_MS", "1000", 1);
    for (const char* name : {"registry", "nobody.start"}) {
        SCOPED_TRACE(name);
        const int fd = ::open((stateDir + "/locks/" + name).c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_EX), 0);
        EXPECT_FALSE(DeleteService(service));
        EXPECT_EQ(GetLastError(), ERROR_SERVICE_DATABASE_LOCKED);
        ::close(fd);
    }
    ::unsetenv("QUILLON_SCM_TIMEOUT_MS");
    expectServiceWorks(service);
}

// 3: an entry that cannot be written in time is dropped and counted.
TEST_F(Security, Row3_AnEventLogWriteThatWouldWaitIsDroppedAndCounted)
{
    reportAsRoot("Quillon", "first");
    const std::string log = stateDir + "/eventlog/quillon.jsonl";
    // The file at its bound: the next entry rotates it, under the lock.
    ASSERT_EQ(::truncate(log.c_str(), 16 * 1024 * 1024), 0);
    const int lock = ::open((stateDir + "/eventlog/.quillon.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    HANDLE source = RegisterEventSourceW(nullptr, u"Quillon");
    LPCWSTR strings[] = {u"cannot wait"};
    EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr));
    EXPECT_EQ(GetLastError(), 1460u); // ERROR_TIMEOUT
    ::close(lock);
    LPCWSTR next[] = {u"after"};
    EXPECT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, next, nullptr)) << GetLastError();
    DeregisterEventSource(source);
    const auto entries = readEventLog(log);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text.at("text"), "after");
    EXPECT_EQ(entries[0].number.at("dropped"), 1);
    EXPECT_TRUE(exists(stateDir + "/eventlog/quillon.1.jsonl"));
}

// 4: the shared log made, truncated or replaced by another user.
TEST_F(Security, Row4_TheEventLogIsWrittenByRootAlone)
{
    const std::string log = stateDir + "/eventlog/quillon.jsonl";
    reportAsRoot("Other", "makes the folder");
    EXPECT_NE(attack("touch '" + log + "'"), 0); // missing: cannot make it
    reportAsRoot("Quillon", "root's entry");
    for (const std::string& command : {": > '" + log + "'", "rm -f '" + log + "'", "mv '" + log + "' '" + playground + "/'",
                                       "ln -sf '" + victim + "' '" + log + "'"})
        EXPECT_NE(attack(command), 0) << command;

    // A service of the same name under the account, installed, run, removed.
    SC_HANDLE service = installAsNobody("Quillon");
    ASSERT_NE(service, nullptr);
    expectServiceWorks(service);
    ASSERT_TRUE(DeleteService(service)) << GetLastError();

    struct stat info {};
    ASSERT_EQ(::stat(log.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    const auto entries = readEventLog(log);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text.at("text"), "root's entry");
    // The service's entries were written, in its account's folder.
    const auto own = readEventLog(stateDir + "/eventlog/accounts/nobody/quillon.jsonl");
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(own[0].text.at("text"), "service main runs");
    expectVictimUntouched();
}

// 6: a state directory another user made or can change.
TEST_F(Security, Row6_AStateDirectoryOthersCouldChangeIsRefused)
{
    const std::string marker = playground + "/the-script-ran";
    const std::string script = playground + "/script.sh";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\ntouch '" << marker << "'\n";
    }
    ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
    const std::string entry = "name=Quillon\ndisplayName=Quillon\ncommandLine=" + script
                              + "\ntype=16\nstartType=3\nerrorControl=1\n";
    // Laid out by the attacker, as the service manager would.
    const std::string byNobody = playground + "/nobodys";
    ASSERT_EQ(attack("mkdir -p '" + byNobody + "/services' && printf '" + entry + "' > '" + byNobody
                     + "/services/quillon.conf'"),
              0);
    auto rootFolder = [](const std::string& path, mode_t mode) {
        EXPECT_EQ(::mkdir(path.c_str(), mode), 0) << path;
        EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
        return path;
    };
    const std::string open = rootFolder(playground + "/open", 0777);
    const std::string group = rootFolder(playground + "/group", 0775);
    const std::string underOpen = rootFolder(rootFolder(stateDir + "-open-parent", 0777) + "/state", 0755);
    const std::string underSticky = rootFolder(playground + "/sticky-parent-is-fine", 0755);
    const std::string nobodysLink = playground + "/link-of-nobody";
    ASSERT_EQ(attack("ln -s '" + underSticky + "' '" + nobodysLink + "'"), 0);
    const std::string rootsLink = playground + "/link-of-root";
    ASSERT_EQ(::symlink(underSticky.c_str(), rootsLink.c_str()), 0);

    const std::pair<std::string, bool> cases[] = {
        {byNobody, false}, {open, false}, {group, false}, {underOpen, false},
        {nobodysLink, false}, {underSticky, true}, {rootsLink, true},
    };
    for (const auto& [dir, trusted] : cases) {
        SCOPED_TRACE(dir);
        ::setenv("QUILLON_STATE_DIR", dir.c_str(), 1);
        SetLastError(0);
        SC_HANDLE other = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        EXPECT_EQ(other != nullptr, trusted) << GetLastError();
        if (other == nullptr) {
            EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
            EXPECT_EQ(runTool({"start", "Quillon"}), 2);
        } else {
            CloseServiceHandle(other);
        }
    }
    ::setenv("QUILLON_STATE_DIR", stateDir.c_str(), 1);
    EXPECT_FALSE(exists(marker));
    EXPECT_FALSE(exists(byNobody + "/run")); // nothing was made there either
    expectServiceWorks(install("Quillon", ""));
    EXPECT_EQ(::system(("rm -rf '" + underOpen + "' '" + stateDir + "-open-parent'").c_str()), 0);
}

// 11: a service under an account gets the system's environment, not root's.
TEST_F(Security, Row11_AnAccountsServiceGetsACleanEnvironment)
{
    ::setenv("LD_LIBRARY_PATH", playground.c_str(), 1);
    ::setenv("QUILLON_SECRET_TOKEN", "root's token", 1);
    SC_HANDLE service = installAsNobody("Nobody");
    ASSERT_NE(service, nullptr);
    expectServiceWorks(service);
    ::unsetenv("LD_LIBRARY_PATH");
    ::unsetenv("QUILLON_SECRET_TOKEN");
    std::string environment;
    for (const auto& line : recordLines()) {
        if (line.rfind("environment ", 0) == 0)
            environment = "|" + line.substr(12) + "|";
    }
    EXPECT_NE(environment.find("|HOME=/nonexistent|"), std::string::npos) << environment;
    EXPECT_NE(environment.find("|USER=nobody|"), std::string::npos) << environment;
    EXPECT_NE(environment.find("|LOGNAME=nobody|"), std::string::npos) << environment;
    EXPECT_NE(environment.find("PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"), std::string::npos);
    EXPECT_EQ(environment.find("LD_LIBRARY_PATH"), std::string::npos) << environment;
    EXPECT_EQ(environment.find("root's token"), std::string::npos) << environment;
}

} // namespace
