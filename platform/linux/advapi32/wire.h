// Frames between the service manager side and a service's dispatcher over
// Unix stream sockets: a 32-bit length, then the message, each read with a
// deadline. What a message holds is in wire_messages.h.
#pragma once

#include "files.h"

#include "platform/win32_base.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace quillon::advapi32 {

// How long the manager waits for a started process to connect and for a
// control handler to answer: 30 s as on Windows, $QUILLON_SCM_TIMEOUT_MS
// when set (tests, slow machines).
std::chrono::milliseconds serviceRequestTimeout();

enum class ReadResult { Ok, Closed, TimedOut, Failed };

bool writeAll(int fd, const void* data, std::size_t size);
ReadResult readAll(int fd, void* data, std::size_t size, Clock::time_point deadline);

// Sends a payload made by wire_messages.h as one frame.
bool sendFrame(int fd, const std::string& payload);

class MessageWriter {
public:
    void word(std::uint32_t value);
    void text(const std::string& value);
    bool sendTo(int fd) const; // one length-prefixed frame
    const std::string& payload() const { return bytes_; }
private:
    std::string bytes_;
};

// Reads one message: from a socket, or from bytes already received.
class MessageReader {
public:
    MessageReader() = default;
    explicit MessageReader(std::string bytes) : bytes_(std::move(bytes)) {}
    ReadResult receiveFrom(int fd, Clock::time_point deadline);
    std::optional<std::uint32_t> word();
    std::optional<std::string> text();
    bool atEnd() const { return position_ == bytes_.size(); }
    const std::string& bytes() const { return bytes_; }
private:
    std::string bytes_;
    std::size_t position_ = 0;
};

// The path of <folder>/<name> through /proc/self/fd, so that the 108-byte
// limit of socket paths never applies and nothing on the way is a link.
std::string pathInFolder(int folder, const std::string& name);

// Connects a stream socket to the socket <name> in an open folder. Returns
// the fd or -1 with errno set.
int connectInFolder(int folder, const std::string& name);

} // namespace quillon::advapi32
