#include "published_status.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace quillon::advapi32 {

namespace {
constexpr std::size_t kMaxRecordFile = 4096;

// The service rewrites its record in place: a read that catches half a
// write fails the checksum and is read again.
template <typename Read>
std::optional<PublishedStatus> readRecord(Read read)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto text = read();
        if (!text)
            return std::nullopt;
        if (auto record = parseStatusRecord(*text))
            return record;
        if (text->empty())
            return std::nullopt;
    }
    return std::nullopt;
}

// The first record's length of a regular file of one of the owners, not
// reached through a link and never blocking; nothing beyond it is read.
std::optional<std::string> readFirstRecord(int runFolder, const char* name, uid_t owner, uid_t otherOwner)
{
    const Fd file(::openat(runFolder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)
        || (info.st_uid != owner && info.st_uid != otherOwner))
        return std::nullopt;
    std::string text(kStatusRecordSize, '\0');
    ssize_t n = 0;
    do {
        n = ::pread(file.get(), text.data(), text.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return std::nullopt;
    text.resize(static_cast<std::size_t>(n));
    return text;
}
} // namespace

std::optional<unsigned long long> processStartTime(pid_t pid)
{
    if (pid <= 0)
        return std::nullopt;
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file)
        return std::nullopt;
    char buffer[1024];
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n <= 0)
        return std::nullopt;
    std::string_view text(buffer, static_cast<std::size_t>(n));
    while (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    const auto stat = parseProcessStat(text);
    if (!stat || stat->state == 'Z' || stat->state == 'X' || stat->state == 'x')
        return std::nullopt;
    return stat->startTime;
}

bool isAlive(const ProcessId& process)
{
    const auto startTime = processStartTime(process.pid);
    return startTime && *startTime == process.startTime;
}

ProcessId currentProcess()
{
    ProcessId self;
    self.pid = ::getpid();
    self.startTime = processStartTime(self.pid).value_or(0);
    return self;
}

std::optional<PublishedStatus> readInstance(int runFolder, uid_t owner)
{
    return readRecord([&] { return readFileAt(runFolder, kInstanceFile, kMaxRecordFile, owner); });
}

int writeInstance(int runFolder, const PublishedStatus& instance)
{
    return replaceFileAt(runFolder, kInstanceFile, formatStatusRecord(instance), 0644);
}

int recordInstance(int runFolder, const ProcessId& process, DWORD type, DWORD state, DWORD exitCode)
{
    PublishedStatus instance;
    instance.process = process;
    instance.status.dwServiceType = type;
    instance.status.dwCurrentState = state;
    instance.status.dwWin32ExitCode = exitCode;
    return writeInstance(runFolder, instance);
}

std::optional<PublishedStatus> readPublished(int runFolder, uid_t owner, uid_t statusOwner)
{
    return readRecord([&] { return readFirstRecord(runFolder, kStatusFile, statusOwner, owner); });
}

bool instanceAlive(int runFolder, uid_t owner)
{
    const auto instance = readInstance(runFolder, owner);
    return instance && instance->status.dwCurrentState != SERVICE_STOPPED && isAlive(instance->process);
}

SERVICE_STATUS effectiveStatus(int runFolder, uid_t owner, uid_t statusOwner, DWORD configuredType,
                               bool* endedUnreported)
{
    SERVICE_STATUS result {};
    result.dwServiceType = configuredType;
    result.dwCurrentState = SERVICE_STOPPED;
    const auto instance = runFolder >= 0 ? readInstance(runFolder, owner) : std::nullopt;
    if (!instance) {
        result.dwWin32ExitCode = ERROR_SERVICE_NEVER_STARTED;
        return result;
    }
    if (instance->status.dwCurrentState == SERVICE_STOPPED) {
        result = instance->status;
        result.dwControlsAccepted = 0;
        return result;
    }
    // Only a record of the process that was started counts.
    auto published = readPublished(runFolder, owner, statusOwner);
    if (published && published->process.pid != instance->process.pid)
        published.reset();
    const bool alive = isAlive(instance->process);
    if (published && (alive || published->status.dwCurrentState == SERVICE_STOPPED)) {
        result = published->status;
        if (result.dwCurrentState == SERVICE_STOPPED)
            result.dwControlsAccepted = 0;
        return result;
    }
    if (alive) {
        result.dwCurrentState = SERVICE_START_PENDING;
        return result;
    }
    result.dwWin32ExitCode = ERROR_PROCESS_ABORTED;
    if (endedUnreported != nullptr)
        *endedUnreported = true;
    return result;
}

bool waitForExit(const ProcessId& process, Clock::time_point deadline)
{
#ifdef SYS_pidfd_open
    const Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, process.pid, 0)));
    if (pidfd) {
        // The descriptor is of whatever has the pid now: make sure it is ours.
        if (!isAlive(process))
            return true;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return !isAlive(process);
            pollfd poller {pidfd.get(), POLLIN, 0};
            const int ready = ::poll(&poller, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
            if (ready > 0)
                return true;
            if (ready < 0 && errno != EINTR)
                break;
        }
    }
#endif
    while (isAlive(process)) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace quillon::advapi32
