#include "wire.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quillon::advapi32 {

namespace {
constexpr std::uint32_t kMaxFrame = 1U << 20;
}

std::chrono::milliseconds serviceRequestTimeout()
{
    if (const char* text = std::getenv("QUILLON_SCM_TIMEOUT_MS"); text != nullptr) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value > 0)
            return std::chrono::milliseconds(value);
    }
    return std::chrono::seconds(30);
}

bool writeAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

ReadResult readAll(int fd, void* data, std::size_t size, Clock::time_point deadline)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return ReadResult::TimedOut;
        pollfd poller {fd, POLLIN, 0};
        const int ready = ::poll(&poller, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return ReadResult::Failed;
        }
        if (ready == 0)
            continue;
        const ssize_t n = ::read(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return errno == ECONNRESET ? ReadResult::Closed : ReadResult::Failed;
        }
        if (n == 0)
            return ReadResult::Closed;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return ReadResult::Ok;
}

void MessageWriter::word(std::uint32_t value)
{
    bytes_.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void MessageWriter::text(const std::string& value)
{
    word(static_cast<std::uint32_t>(value.size()));
    bytes_ += value;
}

bool sendFrame(int fd, const std::string& payload)
{
    std::string frame;
    const auto size = static_cast<std::uint32_t>(payload.size());
    frame.append(reinterpret_cast<const char*>(&size), sizeof size);
    frame += payload;
    return writeAll(fd, frame.data(), frame.size());
}

bool MessageWriter::sendTo(int fd) const
{
    return sendFrame(fd, bytes_);
}

ReadResult MessageReader::receiveFrom(int fd, Clock::time_point deadline)
{
    std::uint32_t size = 0;
    if (const ReadResult r = readAll(fd, &size, sizeof size, deadline); r != ReadResult::Ok)
        return r;
    if (size > kMaxFrame)
        return ReadResult::Failed;
    bytes_.assign(size, '\0');
    position_ = 0;
    return readAll(fd, bytes_.data(), size, deadline);
}

std::optional<std::uint32_t> MessageReader::word()
{
    std::uint32_t value = 0;
    if (bytes_.size() - position_ < sizeof value)
        return std::nullopt;
    std::memcpy(&value, bytes_.data() + position_, sizeof value);
    position_ += sizeof value;
    return value;
}

std::optional<std::string> MessageReader::text()
{
    const auto size = word();
    if (!size || bytes_.size() - position_ < *size)
        return std::nullopt;
    std::string value = bytes_.substr(position_, *size);
    position_ += *size;
    return value;
}

std::string pathInFolder(int folder, const std::string& name)
{
    return "/proc/self/fd/" + std::to_string(folder) + "/" + name;
}

int connectInFolder(int folder, const std::string& name)
{
    const std::string path = pathInFolder(folder, name);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace quillon::advapi32
