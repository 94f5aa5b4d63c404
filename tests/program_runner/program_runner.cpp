#include "program_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quillon::testing {

namespace {

// Ample for a loaded machine to deliver a SIGKILL and end the process.
constexpr auto kKillLimit = std::chrono::seconds(10);

class Fd
{
public:
    Fd() = default;
    explicit Fd(int value)
        : fd(value)
    {
    }
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept
        : fd(std::exchange(other.fd, -1))
    {
    }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            reset();
            fd = std::exchange(other.fd, -1);
        }
        return *this;
    }
    int get() const { return fd; }
    explicit operator bool() const { return fd >= 0; }
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

private:
    int fd = -1;
};

std::string wholeFile(const Fd& file)
{
    std::string text;
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || info.st_size <= 0)
        return text;
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t have = 0;
    while (have < text.size()) {
        const ssize_t got = ::pread(file.get(), text.data() + have, text.size() - have, static_cast<off_t>(have));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    text.resize(have);
    return text;
}

// This process's environment now, with the options' changes.
std::vector<std::string> environmentFor(const ProgramOptions& options)
{
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        entries.emplace_back(*entry);
    const auto drop = [&entries](const std::string& name) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&name](const std::string& e) { return e.compare(0, name.size() + 1, name + "=") == 0; }),
                      entries.end());
    };
    for (const std::string& name : options.unset)
        drop(name);
    for (const auto& [name, value] : options.set) {
        drop(name);
        entries.push_back(name + "=" + value);
    }
    return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void execChild(char* const* argv, char* const* envp, int input, int out, int err,
                            bool ownProcessGroup, const std::vector<int>& ignored, int report)
{
    if (ownProcessGroup)
        ::setpgid(0, 0);
    // A shell's child starts with every signal at its default and none
    // blocked, whatever the test process set up. (Signals that held a handler
    // are reset by exec anyway; those it ignored would stay ignored.)
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int number = 1; number < NSIG; ++number)
        ::sigaction(number, &byDefault, nullptr);
    // Ignored as a starter that wants them so leaves them; exec keeps that.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    for (const int number : ignored)
        ::sigaction(number, &ignore, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int targets[] = {0, 1, 2};
    const int sources[] = {input, out, err};
    for (int i = 0; i < 3; ++i) {
        if (sources[i] < 0)
            continue;
        if (sources[i] == targets[i])
            ::fcntl(targets[i], F_SETFD, 0);
        else if (::dup2(sources[i], targets[i]) < 0)
            break;
    }
    ::execve(argv[0], argv, envp);
    const int error = errno;
    [[maybe_unused]] const ssize_t written = ::write(report, &error, sizeof error);
    ::_exit(127);
}

} // namespace

struct RunningProgram::Child {
    pid_t pid = -1;
    Fd pidfd;
    Fd input;
    Fd out;
    Fd err;
    bool ended = false;
    bool lost = false;
    int status = 0;

    // Reaps the child if it has ended; never blocks.
    bool reap()
    {
        if (ended || pid <= 0)
            return ended;
        int raw = 0;
        const pid_t done = ::waitpid(pid, &raw, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD)) {
            ended = true;
            lost = done != pid;
            if (lost)
                ADD_FAILURE() << "process " << pid << " was reaped by someone else: its exit code is lost";
            status = raw;
            input.reset();
            pidfd.reset();
        }
        return ended;
    }

    bool waitFor(std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!reap()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            if (pidfd) {
                // Readable once the process has ended.
                pollfd ready {pidfd.get(), POLLIN, 0};
                const int step = static_cast<int>(std::min<long long>(left.count(), 1000));
                if (::poll(&ready, 1, step) < 0 && errno != EINTR)
                    pidfd.reset();
            } else {
                std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(2)));
            }
        }
        return true;
    }
};

RunningProgram::RunningProgram(const std::vector<std::string>& argv, const ProgramOptions& options)
    : child(std::make_unique<Child>())
{
    if (argv.empty())
        return;
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = environmentFor(options);
    std::vector<char*> argumentPointers = pointersTo(arguments);
    std::vector<char*> environmentPointers = pointersTo(environment);

    Fd inputEnd;
    if (options.closeInput) {
        inputEnd = Fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    } else {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return;
        inputEnd = Fd(ends[0]);
        child->input = Fd(ends[1]);
    }
    if (options.captureOutput) {
        child->out = Fd(::memfd_create("stdout", MFD_CLOEXEC));
        child->err = Fd(::memfd_create("stderr", MFD_CLOEXEC));
        if (!child->out || !child->err)
            return;
    }
    if (!inputEnd)
        return;

    // The child reports a failed exec through this pipe; its closing on a
    // successful exec says the program runs.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return;
    Fd reportRead(report[0]);
    Fd reportWrite(report[1]);
    const pid_t pid = ::fork();
    if (pid < 0)
        return;
    if (pid == 0) {
        execChild(argumentPointers.data(), environmentPointers.data(), inputEnd.get(),
                  options.captureOutput ? child->out.get() : -1, options.captureOutput ? child->err.get() : -1,
                  options.ownProcessGroup, options.ignoredSignals, reportWrite.get());
    }
    reportWrite.reset();
    int error = 0;
    ssize_t got = 0;
    do
        got = ::read(reportRead.get(), &error, sizeof error);
    while (got < 0 && errno == EINTR);
    if (got > 0) {
        int status = 0;
        ::waitpid(pid, &status, 0); // it has called _exit already
        return;
    }
    child->pid = pid;
    // Without a pidfd (an old kernel) the waits poll instead.
    child->pidfd = Fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

RunningProgram::~RunningProgram()
{
    if (child)
        kill();
}

RunningProgram::RunningProgram(RunningProgram&&) noexcept = default;

RunningProgram& RunningProgram::operator=(RunningProgram&& other) noexcept
{
    if (this != &other) {
        if (child)
            kill();
        child = std::move(other.child);
    }
    return *this;
}

bool RunningProgram::started() const
{
    return child && child->pid > 0;
}

long RunningProgram::pid() const
{
    return started() ? static_cast<long>(child->pid) : 0;
}

bool RunningProgram::running()
{
    return started() && !child->reap();
}

void RunningProgram::signal(int number, bool toTheGroup)
{
    if (running())
        ::kill(toTheGroup ? -child->pid : child->pid, number);
}

bool RunningProgram::waitForEnd(std::chrono::milliseconds limit)
{
    return started() && child->waitFor(limit);
}

void RunningProgram::kill()
{
    if (!running())
        return;
    ::kill(child->pid, SIGKILL);
    if (!child->waitFor(kKillLimit))
        ADD_FAILURE() << "process " << child->pid << " lives on after SIGKILL";
}

int RunningProgram::exitCode()
{
    if (!started() || !child->reap())
        return ProgramOutcome::notEnded;
    if (!child->lost && WIFEXITED(child->status))
        return WEXITSTATUS(child->status);
    return ProgramOutcome::crashed;
}

std::string RunningProgram::standardOutput() const
{
    return child ? wholeFile(child->out) : std::string();
}

std::string RunningProgram::standardError() const
{
    return child ? wholeFile(child->err) : std::string();
}

ProgramOutcome RunningProgram::outcome()
{
    ProgramOutcome result;
    result.exitCode = exitCode();
    result.out = standardOutput();
    result.err = standardError();
    return result;
}

ProgramOutcome runProgram(const std::vector<std::string>& argv, const ProgramOptions& options,
                          std::chrono::milliseconds limit)
{
    RunningProgram program(argv, options);
    if (!program.started()) {
        ADD_FAILURE() << "could not start " << (argv.empty() ? std::string("(nothing)") : argv.front());
        return {};
    }
    if (!program.waitForEnd(limit)) {
        program.kill();
        ADD_FAILURE() << argv.front() << " did not end within " << limit.count() << " ms";
        ProgramOutcome outcome = program.outcome();
        outcome.exitCode = ProgramOutcome::notEnded;
        return outcome;
    }
    return program.outcome();
}

} // namespace quillon::testing
