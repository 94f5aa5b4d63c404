// StartServiceW: runs the service's command line as a detached process of
// its own and returns once that process has connected its dispatcher.
#include "accounts.h"
#include "channel_protocol.h"
#include "command_line.h"
#include "event_log.h"
#include "files.h"
#include "published_status.h"
#include "registry.h"
#include "sc_handles.h"
#include "service_manager.h"
#include "text.h"
#include "wire.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <optional>
#include <algorithm>
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quillon::advapi32 {

namespace {
constexpr DWORD kErrorBadExeFormat = 193;
constexpr DWORD kErrorServiceLogonFailed = 1069;

// An fd closed when the object goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// The start lock of one service, verified to still be the file at its path
// (a deletion may have removed the folder meanwhile).
class StartLock {
public:
    explicit StartLock(const std::string& runDir) : path_(runDir + "/start.lock")
    {
        for (int attempt = 0; attempt < 5 && !lock_; ++attempt) {
            auto candidate = std::make_unique<FileLock>(path_);
            if (!candidate->locked())
                return;
            struct stat held {}, current {};
            if (::fstat(candidate->fd(), &held) == 0 && ::stat(path_.c_str(), &current) == 0
                && held.st_ino == current.st_ino && held.st_dev == current.st_dev)
                lock_ = std::move(candidate);
        }
    }
    bool locked() const { return lock_ != nullptr; }

private:
    std::string path_;
    std::unique_ptr<FileLock> lock_;
};

DWORD errorFromExec(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOEXEC: return kErrorBadExeFormat;
    default: return errorFromErrno(error);
    }
}

// Everything the child needs, prepared before fork: after it only
// async-signal-safe calls are made.
struct LaunchPlan {
    std::vector<std::string> argv;
    std::vector<std::string> environment;
    std::optional<Account> account;
    int channel = -1;
    int devNull = -1;
    int report = -1;
};

struct ChildReport {
    std::int32_t kind; // 1: pid of the service process, 2: errno of a failure
    std::int32_t value;
};

void markAllCloseOnExec(int keep)
{
#ifdef SYS_close_range
    constexpr unsigned kCloseRangeCloexec = 1U << 2;
    if (::syscall(SYS_close_range, 3U, ~0U, kCloseRangeCloexec) == 0) {
        ::fcntl(keep, F_SETFD, 0);
        return;
    }
#endif
    const long limit = std::min(::sysconf(_SC_OPEN_MAX), 65536L);
    for (int fd = 3; fd < limit; ++fd) {
        if (fd != keep)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ::fcntl(keep, F_SETFD, 0);
}

[[noreturn]] void runServiceProcess(const LaunchPlan& plan, char* const* argv, char* const* envp)
{
    auto fail = [&plan](int error) {
        const ChildReport report {2, error};
        (void)!::write(plan.report, &report, sizeof report);
        ::_exit(127);
    };
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal = 1; signal < NSIG; ++signal)
        ::signal(signal, SIG_DFL);
    if (plan.account) {
        if (::setgroups(plan.account->groups.size(), plan.account->groups.data()) != 0
            || ::setgid(plan.account->gid) != 0 || ::setuid(plan.account->uid) != 0)
            fail(errno);
    }
    if (::chdir("/") != 0)
        fail(errno);
    for (int fd = 0; fd < 3; ++fd) {
        if (::dup2(plan.devNull, fd) < 0)
            fail(errno);
    }
    ::umask(022);
    markAllCloseOnExec(plan.channel);
    ::execve(argv[0], argv, envp);
    fail(errno);
    ::_exit(127);
}

// Double fork: the service process is a child of init in a session of its
// own, like a service that the system started. Returns the pid of the
// service process or -1 with the Windows error in `error`.
pid_t launch(const LaunchPlan& plan, DWORD& error)
{
    std::vector<char*> argv;
    for (const auto& a : plan.argv)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : plan.environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    int reportPipe[2];
    if (::pipe2(reportPipe, O_CLOEXEC) != 0) {
        error = errorFromErrno(errno);
        return -1;
    }
    Fd reader(reportPipe[0]);
    LaunchPlan childPlan = plan;
    childPlan.report = reportPipe[1];

    const pid_t intermediate = ::fork();
    if (intermediate < 0) {
        error = errorFromErrno(errno);
        ::close(reportPipe[1]);
        return -1;
    }
    if (intermediate == 0) {
        ::setsid();
        const pid_t service = ::fork();
        if (service == 0)
            runServiceProcess(childPlan, argv.data(), envp.data());
        const ChildReport report = service < 0 ? ChildReport {2, errno} : ChildReport {1, service};
        (void)!::write(childPlan.report, &report, sizeof report);
        ::_exit(0);
    }
    ::close(reportPipe[1]);
    int status = 0;
    while (::waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
    }

    // The pid, then end of file once the program runs (the pipe closes on
    // exec), or the errno of what failed.
    pid_t servicePid = -1;
    const auto deadline = Clock::now() + serviceRequestTimeout();
    ChildReport report {};
    while (readAll(reader.get(), &report, sizeof report, deadline) == ReadResult::Ok) {
        if (report.kind == 1) {
            servicePid = report.value;
        } else {
            error = errorFromExec(report.value);
            return -1;
        }
    }
    if (servicePid < 0)
        error = ERROR_SERVICE_NO_THREAD;
    return servicePid;
}

std::vector<std::string> serviceEnvironment(const std::string& stateDir, int channel,
                                            const std::optional<Account>& account)
{
    std::vector<std::string> environment;
    auto replaced = [&account](const std::string& entry) {
        const std::string key = entry.substr(0, entry.find('='));
        if (key == kChannelVariable || key == "QUILLON_STATE_DIR")
            return true;
        return account && (key == "HOME" || key == "USER" || key == "LOGNAME" || key == "SHELL");
    };
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (!replaced(*e))
            environment.emplace_back(*e);
    }
    environment.push_back("QUILLON_STATE_DIR=" + stateDir);
    environment.push_back(std::string(kChannelVariable) + "=" + std::to_string(channel));
    if (account) {
        environment.push_back("HOME=" + account->home);
        environment.push_back("USER=" + account->user);
        environment.push_back("LOGNAME=" + account->user);
        environment.push_back("SHELL=" + account->shell);
    }
    return environment;
}

int highFd(int fd)
{
    if (fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

void publishStopped(const std::string& runDir, DWORD type, DWORD exitCode)
{
    PublishedStatus stopped;
    stopped.status.dwServiceType = type;
    stopped.status.dwCurrentState = SERVICE_STOPPED;
    stopped.status.dwWin32ExitCode = exitCode;
    writePublishedStatus(runDir, stopped);
}

void killIfSame(const ProcessId& process)
{
    if (isAlive(process))
        ::kill(process.pid, SIGKILL);
}

// The start proper, under the service's start lock.
BOOL startLocked(const Registry& registry, const ServiceConfig& config, DWORD argc, LPCWSTR* argv)
{
    const std::string runDir = registry.runDir(config.name);
    if (effectiveStatus(runDir, config.type).dwCurrentState != SERVICE_STOPPED) {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    const std::vector<std::string> commandLine = splitCommandLine(config.commandLine);
    if (commandLine.empty() || commandLine[0].empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }

    LaunchPlan plan;
    plan.argv = commandLine;
    // An account applies when we may switch to it; otherwise the service runs
    // as the user who starts it (see README.md).
    if (!config.account.empty() && ::geteuid() == 0) {
        plan.account = resolveAccount(config.account);
        if (!plan.account) {
            SetLastError(kErrorServiceLogonFailed);
            return FALSE;
        }
        // The service publishes its status and control socket here, and
        // writes the event log of its own name.
        if (::chown(runDir.c_str(), plan.account->uid, plan.account->gid) != 0) {
            SetLastError(errorFromErrno(errno));
            return FALSE;
        }
        const std::string log = eventLogPath(config.name);
        if (!log.empty()) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (fd >= 0) {
                (void)!::fchown(fd, plan.account->uid, plan.account->gid);
                ::close(fd);
            }
        }
    }

    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        SetLastError(errorFromErrno(errno));
        return FALSE;
    }
    Fd ours(highFd(pair[0]));
    Fd theirs(highFd(pair[1]));
    Fd devNull(highFd(::open("/dev/null", O_RDWR | O_CLOEXEC)));
    if (ours.get() < 0 || theirs.get() < 0 || devNull.get() < 0) {
        SetLastError(errorFromErrno(errno));
        return FALSE;
    }
    plan.channel = theirs.get();
    plan.devNull = devNull.get();
    plan.environment = serviceEnvironment(registry.stateDir(), plan.channel, plan.account);

    DWORD launchError = ERROR_SUCCESS;
    const pid_t pid = launch(plan, launchError);
    theirs.reset();
    if (pid < 0) {
        SetLastError(launchError);
        return FALSE;
    }

    PublishedStatus starting;
    starting.process.pid = pid;
    starting.process.startTime = processStartTime(pid).value_or(0);
    starting.status.dwServiceType = config.type;
    starting.status.dwCurrentState = SERVICE_START_PENDING;
    if (const int error = writePublishedStatus(runDir, starting); error != 0) {
        killIfSame(starting.process);
        SetLastError(errorFromErrno(error));
        return FALSE;
    }

    const auto deadline = Clock::now() + serviceRequestTimeout();
    MessageReader hello;
    const ReadResult heard = hello.receiveFrom(ours.get(), deadline);
    if (heard != ReadResult::Ok || hello.word() != kHello) {
        if (heard == ReadResult::TimedOut) {
            killIfSame(starting.process);
            publishStopped(runDir, config.type, ERROR_SERVICE_REQUEST_TIMEOUT);
            SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
        } else {
            // The process ended (or closed the channel) without connecting.
            killIfSame(starting.process);
            publishStopped(runDir, config.type, ERROR_PROCESS_ABORTED);
            SetLastError(ERROR_PROCESS_ABORTED);
        }
        return FALSE;
    }

    MessageWriter setup;
    setup.text(registry.stateDir());
    setup.text(runDir);
    setup.text(config.name);
    setup.word(argc);
    for (DWORD i = 0; i < argc; ++i)
        setup.text(toUtf8(argv[i]));
    MessageReader answer;
    const bool sent = setup.sendTo(ours.get());
    const ReadResult answered = sent ? answer.receiveFrom(ours.get(), deadline) : ReadResult::Failed;
    const auto word = answered == ReadResult::Ok ? answer.word() : std::nullopt;
    if (word == kReady)
        return TRUE;

    DWORD error = ERROR_PROCESS_ABORTED;
    if (answered == ReadResult::TimedOut)
        error = ERROR_SERVICE_REQUEST_TIMEOUT;
    else if (word == kFailed)
        error = answer.word().value_or(ERROR_PROCESS_ABORTED);
    killIfSame(starting.process);
    publishStopped(runDir, config.type, error);
    SetLastError(error);
    return FALSE;
}
} // namespace

} // namespace quillon::advapi32

using namespace quillon::advapi32;

extern "C" BOOL WINAPI StartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR* argv)
{
    const auto handle = requireHandle(service, HandleKind::Service, SERVICE_START);
    if (!handle)
        return FALSE;
    if (argc > 0 && argv == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (DWORD i = 0; i < argc; ++i) {
        if (argv[i] == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    Registry registry(handle->stateDir);
    const std::string runDir = registry.runDir(handle->name);
    if (!makeDirectories(runDir, 0755)) {
        SetLastError(errorFromErrno(errno));
        return FALSE;
    }
    StartLock lock(runDir);
    if (!lock.locked()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const auto config = loadForHandle(*handle);
    if (!config)
        return FALSE;
    if (config->markedForDelete) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    if (config->startType == SERVICE_DISABLED) {
        SetLastError(ERROR_SERVICE_DISABLED);
        return FALSE;
    }
    return startLocked(registry, *config, argc, argv);
}
