// StartServiceW: runs the service's command line as a detached process of
// its own and returns once that process has connected its dispatcher.
#include "accounts.h"
#include "command_line.h"
#include "event_log.h"
#include "files.h"
#include "process_defaults.h"
#include "program_trust.h"
#include "published_status.h"
#include "registry.h"
#include "sc_handles.h"
#include "service_environment.h"
#include "service_manager.h"
#include "text.h"
#include "wire.h"
#include "wire_messages.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillon::advapi32 {

namespace {
constexpr DWORD kErrorBadExeFormat = 193;
constexpr DWORD kErrorServiceLogonFailed = 1069;
// The identifiers Windows' service manager gives these entries.
constexpr DWORD kEventServiceFailedToStart = 7000;

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
    std::optional<Account> account; // the user to become, when root starts it
    ProcessDefaults defaults;        // init's limits and niceness
    int keep[3] = {-1, -1, -1};      // channel, status file, control socket
    int devNull = -1;
    int report = -1;
};

struct ChildReport {
    std::int32_t kind; // 1: pid of the service process, 2: errno of a failure
    std::int32_t value;
};

// Every descriptor but the three the service gets ends at exec.
void markAllCloseOnExec(const int (&keep)[3])
{
#ifdef SYS_close_range
    constexpr unsigned kCloseRangeCloexec = 1U << 2;
    const bool marked = ::syscall(SYS_close_range, 3U, ~0U, kCloseRangeCloexec) == 0;
#else
    const bool marked = false;
#endif
    if (!marked) {
        const long limit = std::min(::sysconf(_SC_OPEN_MAX), 65536L);
        for (int fd = 3; fd < limit; ++fd)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    for (const int fd : keep)
        ::fcntl(fd, F_SETFD, 0);
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
    // Before root is dropped: only root can raise a limit back.
    applyProcessDefaults(plan.defaults);
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
    markAllCloseOnExec(plan.keep);
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

int highFd(int fd)
{
    if (fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

void killIfSame(const ProcessId& process)
{
    if (isAlive(process))
        ::kill(process.pid, SIGKILL);
}

// A new status file for each process: one that an earlier process may still
// hold open is replaced, not reused. A service under an account gets it as
// its own, so that what it writes there is its own and never root's.
// Returns the descriptor for the service.
Fd freshStatusFile(int run, uid_t owner, const std::optional<Account>& account)
{
    if (const int error = replaceFileAt(run, kStatusFile, std::string(), 0644); error != 0) {
        errno = error;
        return Fd();
    }
    Fd file(::openat(run, kStatusFile, O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (file && (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != owner)) {
        errno = EPERM;
        return Fd();
    }
    if (file && account && account->uid != owner && ::fchown(file.get(), account->uid, account->gid) != 0)
        return Fd();
    return file;
}

// The listening control socket, bound in the manager's own run folder. Only
// the folder's owner may connect.
Fd controlListener(int run)
{
    ::unlinkat(run, kControlSocketName, 0);
    Fd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener)
        return Fd();
    const std::string path = pathInFolder(run, kControlSocketName);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // fchmodat names the socket in a folder only its owner can change, so no
    // one can have put a link there.
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || ::fchmodat(run, kControlSocketName, 0600, 0) != 0 || ::listen(listener.get(), SOMAXCONN) != 0)
        return Fd();
    return listener;
}

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// The start proper, under the service's start lock.
BOOL startLocked(const Registry& registry, const ServiceConfig& config, DWORD argc, LPCWSTR* argv)
{
    const StateRoot& root = registry.root();
    const Fd run = registry.runFolder(config.name, true);
    if (!run)
        return fail(errorFromErrno(errno));

    // One instance at most: the process started last must be gone. One that
    // has reported stopped is given the time-out to end; one that died
    // without reporting it is recorded as such first.
    recordUnexpectedEnd(registry, run.get(), config);
    if (const auto instance = readInstance(run.get(), root.owner);
        instance && instance->status.dwCurrentState != SERVICE_STOPPED && isAlive(instance->process)) {
        if (effectiveStatus(run.get(), root.owner, statusOwner(root, config), config.type).dwCurrentState
                != SERVICE_STOPPED
            || !waitForExit(instance->process, Clock::now() + serviceRequestTimeout()))
            return fail(ERROR_SERVICE_ALREADY_RUNNING);
    }
    const std::vector<std::string> commandLine = splitCommandLine(config.commandLine);
    if (commandLine.empty() || commandLine[0].empty())
        return fail(ERROR_FILE_NOT_FOUND);
    // Checked again at every start: what root runs as root must still be
    // root's alone. The refusal goes where the service's own entries go.
    if (const std::string refusal = programRefusal(config); !refusal.empty()) {
        reportProgramRefusal(refusal);
        reportManagerEvent(root, config.name, EVENTLOG_ERROR_TYPE, kEventServiceFailedToStart,
                           "The " + config.displayName + " service failed to start due to the following error: "
                               + refusal);
        return fail(ERROR_ACCESS_DENIED);
    }

    LaunchPlan plan;
    plan.argv = commandLine;
    // An account applies when we may switch to it; otherwise the service runs
    // as the user who starts it (see README.md).
    std::optional<Account> runAs;
    if (!config.account.empty() && ::geteuid() == 0) {
        plan.account = resolveAccount(config.account);
        if (!plan.account)
            return fail(kErrorServiceLogonFailed);
        runAs = plan.account;
        prepareAccountLog(root, *plan.account);
    } else {
        runAs = accountOfUid(::geteuid());
        if (!runAs)
            return fail(kErrorServiceLogonFailed);
    }

    // The start is on record before the status of the last process goes: a
    // reader sees the old status, then this start as start-pending (while
    // this process lives), never a gap that reads as a crash.
    if (const int error = recordInstance(run.get(), currentProcess(), config.type, SERVICE_START_PENDING, 0);
        error != 0)
        return fail(errorFromErrno(error));
    // Whatever fails from here is the start's result.
    auto failBeforeLaunch = [&](DWORD error) {
        recordInstance(run.get(), currentProcess(), config.type, SERVICE_STOPPED, error);
        return fail(error);
    };

    Fd status = freshStatusFile(run.get(), root.owner, plan.account);
    Fd listener = status ? controlListener(run.get()) : Fd();
    if (!status || !listener)
        return failBeforeLaunch(errorFromErrno(errno));
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return failBeforeLaunch(errorFromErrno(errno));
    Fd ours(highFd(pair[0]));
    Fd theirs(highFd(pair[1]));
    Fd devNull(highFd(::open("/dev/null", O_RDWR | O_CLOEXEC)));
    status.reset(highFd(status.release()));
    listener.reset(highFd(listener.release()));
    if (!ours || !theirs || !devNull || !status || !listener)
        return failBeforeLaunch(errorFromErrno(errno));
    plan.keep[0] = theirs.get();
    plan.keep[1] = status.get();
    plan.keep[2] = listener.get();
    plan.devNull = devNull.get();
    plan.environment = serviceEnvironment(*runAs, root.path, theirs.get(), config.environment);
    plan.defaults = systemProcessDefaults();

    DWORD launchError = ERROR_SUCCESS;
    const pid_t pid = launch(plan, launchError);
    theirs.reset();
    if (pid < 0)
        return failBeforeLaunch(launchError);

    ProcessId process;
    process.pid = pid;
    process.startTime = processStartTime(pid).value_or(0);
    if (const int error = recordInstance(run.get(), process, config.type, SERVICE_START_PENDING, 0); error != 0) {
        killIfSame(process);
        return failBeforeLaunch(errorFromErrno(error));
    }
    auto failStart = [&](DWORD error) {
        killIfSame(process);
        recordInstance(run.get(), process, config.type, SERVICE_STOPPED, error);
        return fail(error);
    };

    const auto deadline = Clock::now() + serviceRequestTimeout();
    MessageReader hello;
    const ReadResult heard = hello.receiveFrom(ours.get(), deadline);
    if (heard != ReadResult::Ok || !parseHello(hello.bytes())) {
        // It ended (or closed the channel) without connecting, or never spoke.
        return failStart(heard == ReadResult::TimedOut ? ERROR_SERVICE_REQUEST_TIMEOUT : ERROR_PROCESS_ABORTED);
    }

    SetupMessage setup;
    setup.stateDir = root.path;
    setup.name = config.name;
    for (DWORD i = 0; i < argc; ++i)
        setup.arguments.push_back(toUtf8(argv[i]));
    setup.statusFd = status.get();
    setup.controlFd = listener.get();
    MessageReader answer;
    const bool sent = sendFrame(ours.get(), encodeSetup(setup));
    const ReadResult answered = sent ? answer.receiveFrom(ours.get(), deadline) : ReadResult::Failed;
    const auto result = answered == ReadResult::Ok ? parseSetupAnswer(answer.bytes()) : std::nullopt;
    if (result && result->ready)
        return TRUE;
    if (answered == ReadResult::TimedOut)
        return failStart(ERROR_SERVICE_REQUEST_TIMEOUT);
    return failStart(result ? result->error : ERROR_PROCESS_ABORTED);
}
} // namespace

} // namespace quillon::advapi32

using namespace quillon::advapi32;

extern "C" BOOL WINAPI StartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR* argv)
{
    const auto handle = requireHandle(service, HandleKind::Service, SERVICE_START);
    if (!handle)
        return FALSE;
    if (argc > kMaxArguments || (argc > 0 && argv == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (DWORD i = 0; i < argc; ++i) {
        if (argv[i] == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    const auto root = openHandleState(*handle);
    if (!root)
        return FALSE;
    const Registry registry(*root);
    const auto lock = registry.lockStart(handle->name);
    if (!lock->locked()) {
        SetLastError(lockError(*lock));
        return FALSE;
    }
    const auto config = loadForHandle(registry, *handle);
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
