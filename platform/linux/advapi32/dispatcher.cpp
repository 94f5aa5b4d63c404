// The service process's side: StartServiceCtrlDispatcherW connects to the
// manager that started the process, runs the service main on a thread of its
// own and serves control requests on the calling thread until the service
// has stopped; RegisterServiceCtrlHandlerW and SetServiceStatus.
#include "channel_protocol.h"
#include "control_rules.h"
#include "files.h"
#include "published_status.h"
#include "text.h"
#include "wire.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace quillon::advapi32;

namespace {
constexpr DWORD kErrorInvalidData = 13;
constexpr DWORD kErrorInvalidAddress = 487;
constexpr DWORD kErrorServiceNotInExe = 1083;

struct DispatcherState {
    std::mutex mutex;
    bool active = false;
    std::string name;
    std::string runDir;
    LPHANDLER_FUNCTION handler = nullptr;
    SERVICE_STATUS status {};
    bool stopReported = false;
    bool mainReturned = false;
    int wakeWrite = -1;
    ProcessId self;
};

// Never destroyed: the dispatcher's thread may still run while the process
// exits.
DispatcherState& state()
{
    static auto* instance = new DispatcherState;
    return *instance;
}

// The one status handle a process gets.
char statusHandleToken;

SERVICE_STATUS_HANDLE statusHandle()
{
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(&statusHandleToken);
}

void wake(int fd)
{
    const char byte = 1;
    (void)!::write(fd, &byte, 1);
}

// The channel inherited from StartServiceW; -1 when this process was not
// started by the manager. The variable is removed so that the service's own
// children do not see it.
int takeChannel()
{
    const char* text = std::getenv(kChannelVariable);
    if (text == nullptr)
        return -1;
    char* end = nullptr;
    const long fd = std::strtol(text, &end, 10);
    const bool wellFormed = end != text && *end == '\0' && fd > 2 && fd < 65536;
    ::unsetenv(kChannelVariable);
    if (!wellFormed)
        return -1;
    int type = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_TYPE, &type, &length) != 0
        || type != SOCK_STREAM)
        return -1;
    ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
}

struct Setup {
    std::string stateDir;
    std::string runDir;
    std::string name;
    std::vector<std::string> arguments;
};

bool handshake(int channel, Setup& setup)
{
    MessageWriter hello;
    hello.word(kHello);
    hello.word(static_cast<std::uint32_t>(::getpid()));
    if (!hello.sendTo(channel))
        return false;
    MessageReader reader;
    if (reader.receiveFrom(channel, Clock::now() + serviceRequestTimeout()) != ReadResult::Ok)
        return false;
    auto stateDir = reader.text();
    auto runDir = reader.text();
    auto name = reader.text();
    const auto count = reader.word();
    if (!stateDir || !runDir || !name || !count)
        return false;
    setup.stateDir = *stateDir;
    setup.runDir = *runDir;
    setup.name = *name;
    for (std::uint32_t i = 0; i < *count; ++i) {
        auto argument = reader.text();
        if (!argument)
            return false;
        setup.arguments.push_back(std::move(*argument));
    }
    return true;
}

// The control socket in the run folder, reached through /proc/self/fd so
// that long paths work. Only the service's user and root may connect.
struct ControlSocket {
    int listener = -1;
    int dirFd = -1;
    ino_t inode = 0;

    int open(const std::string& runDir)
    {
        dirFd = ::open(runDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0)
            return errno;
        const std::string path = socketPath();
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path)
            return ENAMETOOLONG;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        ::unlink(path.c_str());
        listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener < 0)
            return errno;
        if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
            || ::chmod(path.c_str(), 0600) != 0 || ::listen(listener, SOMAXCONN) != 0)
            return errno;
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0)
            inode = info.st_ino;
        return 0;
    }

    std::string socketPath() const
    {
        return "/proc/self/fd/" + std::to_string(dirFd) + "/" + kControlSocketName;
    }

    ~ControlSocket()
    {
        if (listener >= 0) {
            ::close(listener);
            // Leave a socket of a newer instance alone.
            struct stat info {};
            const std::string path = socketPath();
            if (::stat(path.c_str(), &info) == 0 && info.st_ino == inode)
                ::unlink(path.c_str());
        }
        if (dirFd >= 0)
            ::close(dirFd);
    }
};

void reply(int connection, DWORD error, const SERVICE_STATUS& status)
{
    MessageWriter answer;
    answer.word(error);
    for (const DWORD value :
         {status.dwServiceType, status.dwCurrentState, status.dwControlsAccepted,
          status.dwWin32ExitCode, status.dwServiceSpecificExitCode, status.dwCheckPoint,
          status.dwWaitHint})
        answer.word(value);
    answer.sendTo(connection);
}

// One control request: checked against the published status, then handed to
// the handler on this thread; the answer is the status after it returned.
void serveControl(int connection)
{
    DispatcherState& d = state();
    ucred peer {};
    socklen_t length = sizeof peer;
    const bool trusted = ::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0
                         && (peer.uid == 0 || peer.uid == ::geteuid());
    MessageReader request;
    if (request.receiveFrom(connection, Clock::now() + std::chrono::seconds(5)) != ReadResult::Ok)
        return;
    const auto control = request.word();
    if (!control)
        return;

    LPHANDLER_FUNCTION handler = nullptr;
    SERVICE_STATUS status {};
    DWORD refusal = ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        status = d.status;
        handler = d.handler;
        refusal = d.stopReported ? ERROR_SERVICE_NOT_ACTIVE : controlRefusal(*control, status);
        if (refusal == ERROR_SUCCESS && handler == nullptr)
            refusal = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        if (!trusted)
            refusal = ERROR_ACCESS_DENIED;
    }
    if (refusal != ERROR_SUCCESS) {
        reply(connection, refusal, status);
        return;
    }
    handler(*control);
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        status = d.status;
    }
    reply(connection, ERROR_SUCCESS, status);
}

void resetState()
{
    DispatcherState& d = state();
    std::lock_guard<std::mutex> lock(d.mutex);
    d.active = false;
    d.handler = nullptr;
    d.stopReported = false;
    d.mainReturned = false;
    d.wakeWrite = -1;
    d.name.clear();
    d.runDir.clear();
}

void failHandshake(int channel, DWORD error)
{
    MessageWriter failed;
    failed.word(kFailed);
    failed.word(error);
    failed.sendTo(channel);
    ::close(channel);
    resetState();
    SetLastError(error);
}
} // namespace

extern "C" BOOL WINAPI StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table)
{
    if (table == nullptr || table[0].lpServiceName == nullptr || table[0].lpServiceProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int channel = takeChannel();
    if (channel < 0) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    DispatcherState& d = state();
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (d.active) {
            ::close(channel);
            SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
            return FALSE;
        }
        d.active = true;
    }

    Setup setup;
    if (!handshake(channel, setup)) {
        ::close(channel);
        resetState();
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    ControlSocket control;
    if (const int error = control.open(setup.runDir); error != 0) {
        failHandshake(channel, errorFromErrno(error));
        return FALSE;
    }
    int wakePipe[2];
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        failHandshake(channel, errorFromErrno(errno));
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.name = setup.name;
        d.runDir = setup.runDir;
        d.self = currentProcess();
        d.status = SERVICE_STATUS {};
        d.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        d.status.dwCurrentState = SERVICE_START_PENDING;
        d.wakeWrite = wakePipe[1];
    }
    MessageWriter ready;
    ready.word(kReady);
    ready.sendTo(channel);
    ::close(channel);

    // Service main gets the service name, then the start arguments.
    std::vector<std::u16string> arguments;
    arguments.push_back(toUtf16(setup.name));
    for (const auto& a : setup.arguments)
        arguments.push_back(toUtf16(a));
    std::vector<LPWSTR> argv;
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const LPSERVICE_MAIN_FUNCTIONW serviceMain = table[0].lpServiceProc;
    std::thread mainThread([&] {
        serviceMain(static_cast<DWORD>(arguments.size()), argv.data());
        std::lock_guard<std::mutex> lock(d.mutex);
        d.mainReturned = true;
        wake(d.wakeWrite);
    });

    for (;;) {
        pollfd fds[2] = {{control.listener, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break; // cannot happen with valid fds; leave rather than spin
        }
        if (fds[1].revents != 0) {
            char drain[64];
            while (::read(wakePipe[0], drain, sizeof drain) > 0) {
            }
        }
        {
            std::lock_guard<std::mutex> lock(d.mutex);
            if (d.stopReported && d.mainReturned)
                break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const int connection = ::accept4(control.listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0) {
                serveControl(connection);
                ::close(connection);
            }
        }
    }
    mainThread.join();
    resetState();
    ::close(wakePipe[0]);
    ::close(wakePipe[1]);
    return TRUE;
}

extern "C" SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerW(LPCWSTR serviceName,
                                                                   LPHANDLER_FUNCTION handler)
{
    if (handler == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DispatcherState& d = state();
    std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.active || d.name.empty() || serviceName == nullptr
        || !sameName(toUtf8(serviceName), d.name)) {
        SetLastError(kErrorServiceNotInExe);
        return nullptr;
    }
    d.handler = handler;
    return statusHandle();
}

extern "C" BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status)
{
    if (handle != statusHandle()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (status == nullptr) {
        SetLastError(kErrorInvalidAddress);
        return FALSE;
    }
    if (status->dwCurrentState < SERVICE_STOPPED || status->dwCurrentState > SERVICE_PAUSED) {
        SetLastError(kErrorInvalidData);
        return FALSE;
    }
    DispatcherState& d = state();
    std::lock_guard<std::mutex> lock(d.mutex);
    // After SERVICE_STOPPED the process may end at any moment; a late report
    // must not make a stopped service look alive again.
    if (!d.active || d.handler == nullptr || d.stopReported) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    d.status = *status;
    PublishedStatus published;
    published.status = *status;
    published.process = d.self;
    const int error = writePublishedStatus(d.runDir, published);
    if (status->dwCurrentState == SERVICE_STOPPED && !d.stopReported) {
        d.stopReported = true;
        wake(d.wakeWrite);
    }
    if (error != 0) {
        SetLastError(errorFromErrno(error));
        return FALSE;
    }
    return TRUE;
}
