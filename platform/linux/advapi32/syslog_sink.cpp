#include "syslog_sink.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

namespace quillon::advapi32 {

namespace {
// Large enough for any event text the Windows event log takes; the log
// daemons accept datagrams of this size.
constexpr std::size_t kMaxDatagram = 32 * 1024;

std::string socketPath()
{
    if (const char* path = std::getenv("QUILLON_SYSLOG_SOCKET"); path != nullptr && *path != '\0')
        return path;
    return "/dev/log";
}

std::string header(int priority, const std::string& identifier)
{
    char stamp[32] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
    std::string tag;
    for (const char c : identifier) // the tag ends at the first blank or colon
        tag.push_back((c == ' ' || c == ':' || c == '[' || static_cast<unsigned char>(c) < 0x20) ? '_' : c);
    if (tag.empty())
        tag = "-";
    return "<" + std::to_string(LOG_DAEMON | (priority & LOG_PRIMASK)) + ">" + stamp + " " + tag + "["
           + std::to_string(::getpid()) + "]: ";
}
} // namespace

bool sendToSystemLog(int priority, const std::string& identifier, const std::string& message)
{
    const std::string path = socketPath();
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    std::string datagram = header(priority, identifier) + message;
    if (datagram.size() > kMaxDatagram)
        datagram.resize(kMaxDatagram);

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A system log that cannot keep up loses the message rather than hold up
    // the caller: the entry still goes to the event log's file.
    const ssize_t sent = ::sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
    return sent == static_cast<ssize_t>(datagram.size());
}

} // namespace quillon::advapi32
