// The layer as root meets a local user who attacks it (security_fixture.h):
// links, locks, the event log, state directories, a service's environment.
#include "security_fixture.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <sstream>
#include <sys/file.h>

using namespace quillon::advapi32::test;

namespace {
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

// 14: a relative state directory would be another folder in every working
// directory (a service's is /): refused, by root and by anyone else, with a
// message, and nothing is made.
TEST_F(Security, Row14_ARelativeStateDirectoryIsRefused)
{
    const std::string message = "quillon service manager: The state directory relative is not used: it is a "
                                "relative path; QUILLON_STATE_DIR must name a folder from /\n";
    const std::string logOne = "cd '" + playground + "' && QUILLON_STATE_DIR=relative '" + toolPath() + "' log Quillon 1 x";
    // As the attacker, in a folder of its own.
    const std::string err = playground + "/err";
    EXPECT_EQ(attack(logOne + " 2> '" + err + "'; echo $? > '" + playground + "/code'"), 0);
    EXPECT_EQ(readText(playground + "/code"), "3\n");
    EXPECT_EQ(readText(err), message);
    // As root.
    const auto outcome = quillon::testing::runProgram({"/bin/sh", "-c", logOne});
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_EQ(outcome.err, message);
    EXPECT_FALSE(exists(playground + "/relative"));
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
