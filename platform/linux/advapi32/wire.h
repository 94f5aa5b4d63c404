// Messages between the service manager side and a service's dispatcher over
// Unix stream sockets: 32-bit words and length-prefixed UTF-8 strings, each
// read with a deadline.
#pragma once

#include "platform/win32_base.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace quillon::advapi32 {

using Clock = std::chrono::steady_clock;

// How long the manager waits for a started process to connect and for a
// control handler to answer: 30 s as on Windows, $QUILLON_SCM_TIMEOUT_MS
// when set (tests, slow machines).
std::chrono::milliseconds serviceRequestTimeout();

enum class ReadResult { Ok, Closed, TimedOut, Failed };

bool writeAll(int fd, const void* data, std::size_t size);
ReadResult readAll(int fd, void* data, std::size_t size, Clock::time_point deadline);

class MessageWriter {
public:
    void word(std::uint32_t value);
    void text(const std::string& value);
    bool sendTo(int fd) const; // one length-prefixed frame
private:
    std::string bytes_;
};

class MessageReader {
public:
    ReadResult receiveFrom(int fd, Clock::time_point deadline);
    std::optional<std::uint32_t> word();
    std::optional<std::string> text();
private:
    std::string bytes_;
    std::size_t position_ = 0;
};

// Connects a stream socket to <directory>/<name>; long directory paths are
// reached through /proc/self/fd so that the 108-byte limit of socket paths
// never applies. Returns the fd or -1 with errno set.
int connectInDirectory(const std::string& directory, const std::string& name);

} // namespace quillon::advapi32
