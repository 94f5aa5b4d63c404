// quillonsvc end to end as root runs it: a copy of the built program where
// root alone can change anything, a state directory of its own per test,
// sanitizer reports of every quillonsvc process turned into failures, and the
// service manager's view of the service.
#pragma once

#include "platform/win32_service.h"
#include "program_runner.h"
#include "status_poller.h"
#include "trusted_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <unistd.h>
#include <vector>

namespace quillon::e2e {

// Root runs the service's program as root: a copy of it (with its
// libraries and the sample application) where root alone can change
// anything, wherever the build tree is.
inline const std::string& programCopy()
{
    static const std::string copy =
        quillon::testing::trustedCopyOf(QUILLONSVC_PATH, {"libquillon_advapi32.so", "quillon.jar"});
    return copy;
}
inline constexpr auto kWait = std::chrono::seconds(60);

using Outcome = quillon::testing::ProgramOutcome;

inline std::string readText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// /proc/<pid>/stat: state and parent; nullopt-like 'X' when there is none.
inline char processState(long pid, long* parent = nullptr)
{
    const std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return 'X';
    char state = 'X';
    long ppid = 0;
    std::istringstream fields(stat.substr(close + 1));
    fields >> state >> ppid;
    if (parent != nullptr)
        *parent = ppid;
    return state;
}

inline bool processGone(long pid)
{
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < deadline) {
        const char state = processState(pid);
        if (state == 'X' || state == 'Z')
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

class QuillonsvcEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        program = programCopy();
        ASSERT_FALSE(program.empty());
        executable = program;
        scratch = quillon::testing::trustedScratchFolder();
        ASSERT_FALSE(scratch.empty());
        stateDir = scratch + "/state";
        ASSERT_EQ(::mkdir(stateDir.c_str(), 0700), 0);
        ::setenv("QUILLON_STATE_DIR", stateDir.c_str(), 1);
        // The service process has no stderr: AddressSanitizer and UBSan
        // reports of every quillonsvc process go to files, which fail the test.
        for (const char* variable : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
            const char* old = std::getenv(variable);
            saved.emplace_back(variable, old != nullptr ? old : "");
            const std::string value = (old != nullptr && *old != '\0' ? std::string(old) + ":" : std::string())
                                      + "log_path=" + stateDir + "/sanitizer";
            ::setenv(variable, value.c_str(), 1);
        }
        // A service process may exit while its dispatcher thread is still
        // ending (the run waits for it one second only); what Qt allocated
        // for that thread is then reported at exit. Only that is suppressed,
        // and a suppressed leak writes no report (its count would be one).
        const char* oldLsan = std::getenv("LSAN_OPTIONS");
        saved.emplace_back("LSAN_OPTIONS", oldLsan != nullptr ? oldLsan : "");
        const std::string lsan = (oldLsan != nullptr && *oldLsan != '\0' ? std::string(oldLsan) + ":" : std::string())
                                 + "suppressions=" + QUILLON_E2E_LSAN_SUPPRESSIONS + ":print_suppressions=0";
        ::setenv("LSAN_OPTIONS", lsan.c_str(), 1);
    }

    void TearDown() override
    {
        // Leave nothing running behind, even when a step failed.
        const long service = runningServicePid();
        const long java = service > 0 ? javaOf(service) : 0;
        if (service > 0)
            ::kill(static_cast<pid_t>(service), SIGKILL);
        if (java > 0)
            ::kill(static_cast<pid_t>(java), SIGKILL);
        for (const auto& [variable, value] : saved) {
            if (value.empty())
                ::unsetenv(variable.c_str());
            else
                ::setenv(variable.c_str(), value.c_str(), 1);
        }
        if (DIR* dir = ::opendir(stateDir.c_str()); dir != nullptr) {
            while (const dirent* entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                if (name.rfind("sanitizer", 0) == 0)
                    ADD_FAILURE() << "sanitizer report of a quillonsvc process:\n" << readText(stateDir + "/" + name);
            }
            ::closedir(dir);
        }
        ::unsetenv("QUILLON_STATE_DIR");
        EXPECT_EQ(std::system(("rm -rf '" + scratch + "'").c_str()), 0);
    }

    // quillonsvc from a console: the environment as this process has it now.
    Outcome run(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> argv {executable};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return quillon::testing::runProgram(argv);
    }

    std::string versionText(bool running)
    {
        return "The service\n\tQuillon\n\t" + program + "\n\nis installed and "
               + (running ? "running" : "not running") + "\n\n";
    }

    // The pid the service published while it runs (the status file's state
    // is not SERVICE_STOPPED and the process lives); 0 otherwise.
    long runningServicePid()
    {
        long pid = 0;
        unsigned state = 0;
        const std::string status = readText(stateDir + "/run/quillon/status");
        if (std::sscanf(status.c_str(), "pid=%ld startTime=%*u type=%*u state=%u", &pid, &state) != 2)
            return 0;
        const char process = processState(pid);
        return state != 1 && process != 'X' && process != 'Z' ? pid : 0;
    }

    // The sample application's JVM among the service's descendants.
    long javaOf(long service)
    {
        DIR* proc = ::opendir("/proc");
        long found = 0;
        while (const dirent* entry = proc != nullptr ? ::readdir(proc) : nullptr) {
            char* end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (*end != '\0' || pid <= 0)
                continue;
            std::string command = readText("/proc/" + std::to_string(pid) + "/cmdline");
            if (command.find("quillon.core.Bootstrap") == std::string::npos)
                continue;
            for (long ancestor = pid; ancestor > 1;) {
                long parent = 0;
                if (processState(ancestor, &parent) == 'X')
                    break;
                if (parent == service) {
                    found = pid;
                    break;
                }
                ancestor = parent;
            }
        }
        if (proc != nullptr)
            ::closedir(proc);
        return found;
    }

    long waitForJava(long service)
    {
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (std::chrono::steady_clock::now() < deadline) {
            if (const long java = javaOf(service); java > 0)
                return java;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return 0;
    }

    bool waitForVersion(bool running)
    {
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (std::chrono::steady_clock::now() < deadline) {
            if (run({"-v"}).out == versionText(running))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    // Waits until the service has reported SERVICE_RUNNING, once the
    // application has started up: "-v" says running already while it starts.
    bool waitForServiceRunning()
    {
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (std::chrono::steady_clock::now() < deadline) {
            unsigned state = 0;
            const std::string status = readText(stateDir + "/run/quillon/status");
            if (std::sscanf(status.c_str(), "pid=%*d startTime=%*u type=%*u state=%u", &state) == 1 && state == 4)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // The texts of the service's event log, in order.
    std::vector<std::string> eventTexts()
    {
        std::vector<std::string> texts;
        std::ifstream in(stateDir + "/eventlog/quillon.jsonl");
        std::string line;
        const std::string key = "\"text\":\"";
        while (std::getline(in, line)) {
            const std::size_t start = line.find(key);
            if (start != std::string::npos)
                texts.push_back(line.substr(start + key.size(), line.find("\",", start + key.size()) - start - key.size()));
        }
        return texts;
    }

    bool waitForEntry(const std::string& text)
    {
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto texts = eventTexts();
            if (std::find(texts.begin(), texts.end(), text) != texts.end())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    void installAndStart(long& service, long& java)
    {
        ASSERT_EQ(run({"-i"}).exitCode, 0);
        const Outcome started = run({});
        ASSERT_EQ(started.exitCode, 0) << started.err;
        ASSERT_TRUE(waitForServiceRunning());
        ASSERT_TRUE(waitForVersion(true));
        service = runningServicePid();
        ASSERT_GT(service, 0);
        java = waitForJava(service);
        ASSERT_GT(java, 0) << "no JVM behind the service";
    }

    // quillonsvc with its libraries beside it (its run path is its own
    // folder) and a Java runtime of its own; run() starts this copy.
    void useProgramWithItsOwnJava()
    {
        programDir = stateDir + "/program";
        ASSERT_EQ(std::system(("mkdir -p '" + programDir + "/Java/bin' && cp '" + program + "' '" + programDir
                               + "/' && ln -s \"$(dirname '" + program + "')/libquillon_advapi32.so\" '" + programDir
                               + "/' && ln -s \"$(dirname '" + program + "')/libquillon_kernel32.so\" '"
                               + programDir + "/' && : > '" + programDir + "/quillon.jar'")
                                  .c_str()),
                  0);
        executable = programDir + "/quillonsvc";
    }

    // The Java runtime of the copy: a shell script.
    void setJava(const std::string& script)
    {
        const std::string java = programDir + "/Java/bin/java";
        std::ofstream(java, std::ios::trunc) << "#!/bin/sh\n" << script;
        ASSERT_EQ(::chmod(java.c_str(), 0755), 0);
    }

    std::string scratch;
    std::string stateDir;
    std::vector<std::pair<std::string, std::string>> saved;
    // The quillonsvc of the build, as root may run it.
    std::string program;
    // The quillonsvc that run() starts.
    std::string executable;
    // The folder of the copy that useProgramWithItsOwnJava() made.
    std::string programDir;
};

// What the service manager reports of the service, through our layer.
inline SERVICE_STATUS queryStatus()
{
    SERVICE_STATUS status {};
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != nullptr ? OpenServiceW(manager, u"Quillon", SERVICE_QUERY_STATUS) : nullptr;
    if (service == nullptr || !QueryServiceStatus(service, &status))
        status.dwCurrentState = 0;
    if (service != nullptr)
        CloseServiceHandle(service);
    if (manager != nullptr)
        CloseServiceHandle(manager);
    return status;
}

inline bool waitForStopped(SERVICE_STATUS& status)
{
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < deadline) {
        status = queryStatus();
        if (status.dwCurrentState == SERVICE_STOPPED)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

} // namespace quillon::e2e
