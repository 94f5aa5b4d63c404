// One message to the system log, with its own identifier per message (the
// event source) so that several sources in one process never share the
// process-wide state of openlog(3).
#pragma once

#include <string>

namespace quillon::advapi32 {

// priority is a syslog(3) level (LOG_ERR, ...); sent with facility LOG_DAEMON
// to /dev/log, or to $QUILLON_SYSLOG_SOCKET when set. Returns false when no
// system log listens, which is not an error for the caller.
bool sendToSystemLog(int priority, const std::string& identifier, const std::string& message);

} // namespace quillon::advapi32
