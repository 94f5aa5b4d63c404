// The text of a published status and of the manager's record of a started
// process: the seven SERVICE_STATUS values with the pid and start time of
// the process, one line of fixed length ending in a checksum, so that it can
// be rewritten in place and a reader can tell a whole line from a torn one.
// And the one /proc/<pid>/stat line the manager reads of another process.
// The parsers take bytes and return a result; they trust nothing in them.
#pragma once

#include "platform/win32_service.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace quillon::advapi32 {

struct ProcessId {
    pid_t pid = 0;
    unsigned long long startTime = 0; // /proc/<pid>/stat field 22
};

struct PublishedStatus {
    SERVICE_STATUS status {};
    ProcessId process;
};

// Every record is this long, line feed included.
inline constexpr std::size_t kStatusRecordSize = 256;

std::string formatStatusRecord(const PublishedStatus& published);
// nullopt for anything but one whole record with a matching checksum.
std::optional<PublishedStatus> parseStatusRecord(std::string_view text);

struct ProcessState {
    char state = 0;
    unsigned long long startTime = 0;
};
// The state (field 3) and start time (field 22) of a /proc/<pid>/stat line,
// whose command name (in parentheses) may hold anything, ')' included.
std::optional<ProcessState> parseProcessStat(std::string_view text);

} // namespace quillon::advapi32
