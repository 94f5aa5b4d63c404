// The system's requests to end a console program, delivered to the main
// thread: SIGINT, SIGTERM and SIGHUP on Linux; Ctrl+C, Ctrl+Break, closing
// the console, log-off and shut-down on Windows. While an object of this
// class lives, those requests no longer end the program by themselves: each
// one calls the handler from the event loop of the thread that made the
// object (which must run a Qt event loop), one call per request. A request
// the program was started to ignore (SIGHUP under nohup, say; Ctrl+C with
// the console's ignore attribute inherited) stays ignored.
#pragma once

#include <functional>
#include <memory>

namespace quillon::platform {

class ConsoleStopRequests
{
public:
    explicit ConsoleStopRequests(std::function<void()> onRequest);
    // Restores the handling there was before.
    ~ConsoleStopRequests();

    ConsoleStopRequests(const ConsoleStopRequests&) = delete;
    ConsoleStopRequests& operator=(const ConsoleStopRequests&) = delete;

    // False when the requests could not be taken over; they then end the
    // program as before.
    bool active() const;

    struct Channel;

private:
    std::unique_ptr<Channel> channel;
};

} // namespace quillon::platform
