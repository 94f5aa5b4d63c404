// Console control events to the main thread: the system calls the handler on
// a thread of its own, which posts the request to the main thread's event
// loop. For closing the console, log-off and shut-down the system ends the
// process once the handler returns, so the handler waits, bounded, for the
// run to end first. A program started with Ctrl+C ignored (the attribute
// SetConsoleCtrlHandler(nullptr, TRUE) leaves to its children) is not sent
// Ctrl+C at all, handler or not: that stays so, as the starter chose.
#include "platform/console_stop_requests.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <atomic>

#include <windows.h>

namespace quillon::platform {

namespace {

// The system gives a console close 5 s; the wait stays within it.
constexpr DWORD kEndWaitMs = 4500;

std::atomic<ConsoleStopRequests::Channel*> currentChannel{nullptr};

BOOL WINAPI onConsoleControl(DWORD type);

} // namespace

struct ConsoleStopRequests::Channel {
    QObject receiver; // lives on the thread that made the channel
    std::function<void()> onRequest;
    HANDLE ended = nullptr;
    bool installed = false;

    ~Channel()
    {
        if (installed) {
            ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
            currentChannel.store(nullptr);
        }
        if (ended != nullptr) {
            // A handler that waits has the event itself; one that has not
            // begun to wait finds the handle gone and returns at once.
            ::SetEvent(ended);
            ::CloseHandle(ended);
        }
    }
};

namespace {

BOOL WINAPI onConsoleControl(DWORD type)
{
    ConsoleStopRequests::Channel* channel = currentChannel.load();
    if (channel == nullptr)
        return FALSE;
    QMetaObject::invokeMethod(&channel->receiver, [channel] { channel->onRequest(); },
                              Qt::QueuedConnection);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        ::WaitForSingleObject(channel->ended, kEndWaitMs);
    return TRUE;
}

} // namespace

ConsoleStopRequests::ConsoleStopRequests(std::function<void()> onRequest)
    : channel(std::make_unique<Channel>())
{
    if (currentChannel.load() != nullptr)
        return;
    channel->onRequest = std::move(onRequest);
    channel->ended = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (channel->ended == nullptr)
        return;
    currentChannel.store(channel.get());
    if (!::SetConsoleCtrlHandler(onConsoleControl, TRUE)) {
        currentChannel.store(nullptr);
        return;
    }
    channel->installed = true;
}

ConsoleStopRequests::~ConsoleStopRequests() = default;

bool ConsoleStopRequests::active() const
{
    return channel->installed;
}

} // namespace quillon::platform
