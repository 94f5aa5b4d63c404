// The event log's files. Each event source has one file in eventlog/ of the
// state directory, written only by the directory's owner (root): at most
// kEventLogFileBound bytes, then it is renamed to <source>.1.jsonl (replacing
// the one before) and a new file begins, as the Windows Application log
// overwrites its oldest entries at its maximum size. A service running under
// an account writes into a folder of that account, eventlog/accounts/<user>/,
// which root makes for it when it starts the service and never opens again.
#pragma once

#include "accounts.h"
#include "state_dir.h"

#include <cstddef>
#include <string>

namespace quillon::advapi32 {

inline constexpr std::size_t kEventLogFileBound = 16 * 1024 * 1024;
// An entry larger than this is refused, as Windows refuses oversized events.
inline constexpr std::size_t kEventLogEntryBound = 1024 * 1024;

// eventlog/ of the state directory, the owner's and writable by no one else.
// Invalid with errno set when it cannot be had.
Fd openEventLogFolder(const StateRoot& root);

// Makes eventlog/accounts/<user>/ for the account of a service root starts:
// a folder of that user. Nothing in it is opened here or later.
void prepareAccountLog(const StateRoot& root, const Account& account);

// Appends one line to <key>.jsonl in the folder (owned by `owner`), rotating
// at the bound; never waits long. Returns 0 or an errno value (ETIMEDOUT when
// the rotation lock could not be had in time).
int appendEntry(int folder, const std::string& key, const std::string& line, uid_t owner);

// An entry of the service manager itself (a start it refused, a service
// that died), written under the service's event source where its own
// entries go, as the owner of the state directory; others write nothing.
void reportManagerEvent(const StateRoot& root, const std::string& source, WORD type, DWORD eventId,
                        const std::string& text);

} // namespace quillon::advapi32
