// The service process's side: StartServiceCtrlDispatcherW connects to the
// manager that started the process, runs the service main on a thread of its
// own and serves control requests on the calling thread until the service
// has stopped; RegisterServiceCtrlHandlerW and SetServiceStatus.
#include "control_rules.h"
#include "files.h"
#include "published_status.h"
#include "text.h"
#include "wire.h"
#include "wire_messages.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
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
constexpr std::chrono::milliseconds kAcceptBackoffFirst {10};
constexpr std::chrono::milliseconds kAcceptBackoffLongest {250};

struct DispatcherState {
    std::mutex mutex;
    bool active = false;
    std::string name;
    int statusFd = -1; // the status file the manager made for this process
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

// The setup from the manager, with the two descriptors it names checked to
// be what they should: the status file open for writing, a listening socket.
bool handshake(int channel, SetupMessage& setup)
{
    if (!sendFrame(channel, encodeHello(HelloMessage {static_cast<std::uint32_t>(::getpid())})))
        return false;
    MessageReader reader;
    if (reader.receiveFrom(channel, Clock::now() + serviceRequestTimeout()) != ReadResult::Ok)
        return false;
    auto parsed = parseSetup(reader.bytes());
    if (!parsed)
        return false;
    struct stat info {};
    const int flags = ::fcntl(parsed->statusFd, F_GETFL);
    int listening = 0;
    socklen_t length = sizeof listening;
    if (::fstat(parsed->statusFd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0
        || (flags & O_ACCMODE) == O_RDONLY
        || ::getsockopt(parsed->controlFd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0
        || listening == 0)
        return false;
    ::fcntl(parsed->statusFd, F_SETFD, FD_CLOEXEC);
    ::fcntl(parsed->controlFd, F_SETFD, FD_CLOEXEC);
    setup = std::move(*parsed);
    return true;
}

void reply(int connection, DWORD error, const SERVICE_STATUS& status)
{
    sendFrame(connection, encodeControlReply(ControlReply {error, status}));
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
    const auto control = parseControlRequest(request.bytes());
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
    d.statusFd = -1;
}

void failHandshake(int channel, DWORD error)
{
    sendFrame(channel, encodeSetupAnswer(SetupAnswer {false, error}));
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

    SetupMessage setup;
    if (!handshake(channel, setup)) {
        ::close(channel);
        resetState();
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    const Fd statusFile(setup.statusFd);
    const Fd listener(setup.controlFd);
    int wakePipe[2];
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        failHandshake(channel, errorFromErrno(errno));
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.name = setup.name;
        d.statusFd = statusFile.get();
        d.self = currentProcess();
        d.status = SERVICE_STATUS {};
        d.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        d.status.dwCurrentState = SERVICE_START_PENDING;
        d.wakeWrite = wakePipe[1];
    }
    sendFrame(channel, encodeSetupAnswer(SetupAnswer {true, ERROR_SUCCESS}));
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

    // Out of descriptors (or kernel memory), accept fails while the caller
    // still waits in the queue: the listener is left alone for a while,
    // longer each time, and taken up again when descriptors return.
    std::chrono::milliseconds backoff {0};
    bool resting = false;
    for (;;) {
        pollfd fds[2] = {{listener.get(), POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        pollfd* watched = resting ? fds + 1 : fds;
        if (::poll(watched, resting ? 1 : 2, resting ? static_cast<int>(backoff.count()) : -1) < 0) {
            if (errno == EINTR)
                continue;
            break; // cannot happen with valid fds; leave rather than spin
        }
        resting = false;
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
            const int connection = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0) {
                backoff = std::chrono::milliseconds(0);
                serveControl(connection);
                ::close(connection);
            } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                backoff = std::min(std::max(backoff * 2, kAcceptBackoffFirst), kAcceptBackoffLongest);
                resting = true;
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
    // One record of fixed length, rewritten in place: readers see the old
    // or the new one (a torn read fails its checksum and is read again).
    const std::string record = formatStatusRecord(published);
    const int error = ::pwrite(d.statusFd, record.data(), record.size(), 0)
                              == static_cast<ssize_t>(record.size())
                          ? 0
                          : (errno != 0 ? errno : EIO);
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
