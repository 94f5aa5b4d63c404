// The test service: calls StartServiceCtrlDispatcherW, registers a handler,
// reports its states and obeys controls. What it sees goes, a line at a time,
// to the file named by --record=. Options (from its registered command line):
//   --accept=stop,pause,shutdown  controls it accepts (default: stop)
//   --exit-code=N                 Win32 exit code reported when stopping
//   --stay-pending                never leaves SERVICE_START_PENDING
//   --exit-early                  exits with 3 before connecting
//   --no-dispatcher               sleeps without ever connecting
//   --slow-control=MS             its handler takes MS ms for control 250
// Control 252 makes it run out of descriptors for a second ("descriptors
// exhausted" ... "descriptors back"); control 253 makes it write 8 MiB more
// into its status file through the descriptor the manager handed it.
// Service main records its environment ("environment NAME=value|..."), its
// resource limits and niceness ("limits <soft>:<hard> ... nice=<n>").
#include "platform/win32_service.h"

#include "utf16.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <cerrno>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Options {
    std::string record;
    DWORD accepted = SERVICE_ACCEPT_STOP;
    DWORD exitCode = 0;
    bool stayPending = false;
    int slowControlMs = 0;
};

Options options;
std::mutex mutex;
std::condition_variable stopRequested;
bool stopping = false;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status {};

void record(const std::string& line)
{
    if (options.record.empty())
        return;
    const int fd = ::open(options.record.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    const std::string text = line + "\n";
    (void)!::write(fd, text.data(), text.size());
    ::close(fd);
}

std::string utf8(LPCWSTR text)
{
    return quillon::linux_text::utf16ToUtf8(std::u16string(text));
}

// Called with mutex held.
void report(DWORD state)
{
    status.dwCurrentState = state;
    const bool pending = state == SERVICE_START_PENDING;
    status.dwControlsAccepted = pending ? 0 : options.accepted;
    if (!SetServiceStatus(statusHandle, &status))
        record("report failed " + std::to_string(GetLastError()));
}

// What a service under an account can do with what it was handed, or to
// itself.
void exhaustDescriptors()
{
    const int recordFd = ::open(options.record.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    rlimit old {};
    ::getrlimit(RLIMIT_NOFILE, &old);
    rlimit low = old;
    low.rlim_cur = 256;
    ::setrlimit(RLIMIT_NOFILE, &low);
    std::vector<int> held;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        held.push_back(fd);
    const std::string exhausted = "descriptors exhausted\n";
    (void)!::write(recordFd, exhausted.data(), exhausted.size());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (const int fd : held)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &old);
    const std::string back = "descriptors back\n";
    (void)!::write(recordFd, back.data(), back.size());
    ::close(recordFd);
}

void growStatusFile()
{
    for (int fd = 3; fd < 1024; ++fd) {
        char target[4096] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        const std::string path(target, n > 0 ? static_cast<std::size_t>(n) : 0);
        if (path.size() < 7 || path.compare(path.size() - 7, 7, "/status") != 0)
            continue;
        const std::string block(1 << 20, 'x');
        bool grown = true;
        for (int i = 0; i < 8; ++i)
            grown = ::pwrite(fd, block.data(), block.size(), 4096 + static_cast<off_t>(i) * block.size())
                        == static_cast<ssize_t>(block.size()) && grown;
        record(grown ? "status grown" : "status not grown " + std::to_string(errno));
        return;
    }
    record("no status descriptor");
}

std::string limitsLine()
{
    std::string line = "limits";
    for (int resource = 0; resource < RLIMIT_NLIMITS; ++resource) {
        rlimit limit {};
        ::getrlimit(static_cast<__rlimit_resource>(resource), &limit);
        line += " " + std::to_string(limit.rlim_cur) + ":" + std::to_string(limit.rlim_max);
    }
    errno = 0;
    return line + " nice=" + std::to_string(::getpriority(PRIO_PROCESS, 0));
}

void WINAPI handler(DWORD control)
{
    record("control " + std::to_string(control));
    if (control == 252) {
        std::thread(exhaustDescriptors).detach();
        return;
    }
    if (control == 253) {
        growStatusFile();
        return;
    }
    if (control == 250) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options.slowControlMs));
        record("control 250 done");
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        report(SERVICE_STOP_PENDING);
        stopping = true;
        stopRequested.notify_all();
        break;
    case SERVICE_CONTROL_PAUSE:
        report(SERVICE_PAUSE_PENDING);
        report(SERVICE_PAUSED);
        break;
    case SERVICE_CONTROL_CONTINUE:
        report(SERVICE_CONTINUE_PENDING);
        report(SERVICE_RUNNING);
        break;
    default:
        report(status.dwCurrentState);
        break;
    }
}

void WINAPI serviceMain(DWORD argc, LPWSTR* argv)
{
    std::string line = "main";
    for (DWORD i = 0; i < argc; ++i)
        line += "|" + utf8(argv[i]);
    record(line);
    char cwd[256] = {};
    (void)!::getcwd(cwd, sizeof cwd - 1);
    struct stat in {}, null {};
    ::fstat(0, &in);
    ::stat("/dev/null", &null);
    record(std::string("env channel=") + (std::getenv("QUILLON_SCM_CHANNEL") ? "set" : "unset")
           + " cwd=" + cwd + " uid=" + std::to_string(::getuid())
           + " stdin=" + (in.st_rdev == null.st_rdev ? "null" : "other")
           + " sid=" + std::to_string(::getsid(0)));
    record(limitsLine());

    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e)
        environment.emplace_back(*e);
    std::sort(environment.begin(), environment.end());
    std::string variables = "environment";
    for (const auto& entry : environment)
        variables += (variables.size() == 11 ? " " : "|") + entry;
    record(variables);

    if (HANDLE log = RegisterEventSourceW(nullptr, argv[0]); log != nullptr) {
        LPCWSTR strings[] = {u"service main runs"};
        if (!ReportEventW(log, EVENTLOG_INFORMATION_TYPE, 0, 7, nullptr, 1, 0, strings, nullptr))
            record("event log failed " + std::to_string(GetLastError()));
        DeregisterEventSource(log);
    }
    statusHandle = RegisterServiceCtrlHandlerW(argv[0], handler);
    if (statusHandle == nullptr) {
        record("register failed " + std::to_string(GetLastError()));
        return;
    }
    std::unique_lock<std::mutex> lock(mutex);
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    report(SERVICE_START_PENDING);
    if (!options.stayPending)
        report(SERVICE_RUNNING);
    stopRequested.wait(lock, [] { return stopping; });
    status.dwWin32ExitCode = options.exitCode;
    report(SERVICE_STOPPED);
    lock.unlock();
    // The dispatcher must wait for service main to return.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    record("main returned");
}

DWORD parseAccepted(const std::string& list)
{
    DWORD accepted = 0;
    if (list.find("stop") != std::string::npos)
        accepted |= SERVICE_ACCEPT_STOP;
    if (list.find("pause") != std::string::npos)
        accepted |= SERVICE_ACCEPT_PAUSE_CONTINUE;
    if (list.find("shutdown") != std::string::npos)
        accepted |= SERVICE_ACCEPT_SHUTDOWN;
    return accepted;
}

} // namespace

int runTestService(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&a](const char* prefix) -> const char* {
            const std::size_t n = std::strlen(prefix);
            return a.compare(0, n, prefix) == 0 ? a.c_str() + n : nullptr;
        };
        if (const char* v = value("--record="))
            options.record = v;
        else if (const char* v2 = value("--accept="))
            options.accepted = parseAccepted(v2);
        else if (const char* v3 = value("--exit-code="))
            options.exitCode = static_cast<DWORD>(std::strtoul(v3, nullptr, 10));
        else if (const char* v4 = value("--slow-control="))
            options.slowControlMs = std::atoi(v4);
        else if (a == "--stay-pending")
            options.stayPending = true;
        else if (a == "--exit-early")
            return 3;
        else if (a == "--no-dispatcher")
            std::this_thread::sleep_for(std::chrono::minutes(10));
    }
    record("process");
    std::u16string name = u"ignored for own-process services";
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), serviceMain}, {nullptr, nullptr}};
    const BOOL ok = StartServiceCtrlDispatcherW(table);
    const DWORD error = ok ? 0 : GetLastError();
    record("dispatcher " + std::to_string(ok) + " " + std::to_string(error));
    if (ok)
        return 0;
    return error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT ? 63 : 1;
}
