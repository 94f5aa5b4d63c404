// Signals to the main thread through a pipe: the handler only writes one
// byte (async-signal-safe), and a socket notifier on the main thread reads it.
// A signal that was ignored when the program started (nohup, a service
// wrapper that keeps SIGHUP from its children) stays ignored: whoever started
// the program chose so.
#include "platform/console_stop_requests.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace quillon::platform {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Written by the handler; one channel at a time per process.
volatile sig_atomic_t requestPipeWriteEnd = -1;

extern "C" void onStopSignal(int)
{
    const int savedErrno = errno;
    const int fd = requestPipeWriteEnd;
    if (fd >= 0) {
        const char byte = 1;
        // A full pipe already holds requests enough.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

struct ConsoleStopRequests::Channel {
    int readEnd = -1;
    int writeEnd = -1;
    struct sigaction previous[sizeof kSignals / sizeof kSignals[0]] = {};
    bool taken[sizeof kSignals / sizeof kSignals[0]] = {};
    bool installed = false;
    std::unique_ptr<QSocketNotifier> notifier;
    std::function<void()> onRequest;

    ~Channel()
    {
        if (installed) {
            for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
                if (taken[i])
                    ::sigaction(kSignals[i], &previous[i], nullptr);
            }
            requestPipeWriteEnd = -1;
        }
        notifier.reset();
        if (readEnd >= 0)
            ::close(readEnd);
        if (writeEnd >= 0)
            ::close(writeEnd);
    }

    void drain()
    {
        char bytes[16];
        ssize_t got;
        while ((got = ::read(readEnd, bytes, sizeof bytes)) > 0) {
            for (ssize_t i = 0; i < got; ++i)
                onRequest();
        }
    }
};

ConsoleStopRequests::ConsoleStopRequests(std::function<void()> onRequest)
    : channel(std::make_unique<Channel>())
{
    if (requestPipeWriteEnd >= 0)
        return;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    channel->readEnd = ends[0];
    channel->writeEnd = ends[1];
    channel->onRequest = std::move(onRequest);
    channel->notifier = std::make_unique<QSocketNotifier>(channel->readEnd, QSocketNotifier::Read);
    Channel* own = channel.get();
    QObject::connect(channel->notifier.get(), &QSocketNotifier::activated, [own] { own->drain(); });

    requestPipeWriteEnd = channel->writeEnd;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
        struct sigaction& previous = channel->previous[i];
        if (::sigaction(kSignals[i], nullptr, &previous) != 0
            || ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_IGN))
            continue;
        channel->taken[i] = ::sigaction(kSignals[i], &action, nullptr) == 0;
    }
    channel->installed = true;
}

ConsoleStopRequests::~ConsoleStopRequests() = default;

bool ConsoleStopRequests::active() const
{
    return channel->installed;
}

} // namespace quillon::platform
