// File-system helpers of the advapi32 layer. Everything in the state
// directory is reached through directory descriptors, never through a
// symbolic link, and changed on descriptors, so that a name swapped by
// another user can never redirect what root does.
#pragma once

#include "platform/win32_base.h"
#include "trusted_path.h"

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>

namespace quillon::advapi32 {

using Clock = std::chrono::steady_clock;

// A descriptor closed when the object goes.
using Fd = linux_trust::Descriptor;

// The Windows error code closest to an errno value.
DWORD errorFromErrno(int error);

// A folder of the state directory below `parent`, opened without following a
// link and made (with `mode`) when missing and `create` is set. It must be
// owned by `owner` and writable by nobody else; a folder of that owner with
// a looser mode is tightened. Invalid Fd with errno set otherwise (EPERM for a
// folder that is not `owner`'s).
Fd openFolderAt(int parent, const std::string& name, bool create, unsigned mode, uid_t owner);

// The same, but a folder there that is not `owner`'s (or no folder: a file,
// a link) is moved aside and made anew. Only for the owner of `parent`.
Fd openOwnFolderAt(int parent, const std::string& name, unsigned mode, uid_t owner);

// Opens <dir>/<name> with `flags`, made with `mode` when missing, without
// following a link and without blocking, and makes sure it is a regular file
// of `owner` with a single link. Whatever else is there (a FIFO, a folder, a
// link, a socket, another user's file) is moved aside and a fresh file made.
// Invalid Fd with errno set when that fails.
Fd openOwnFileAt(int dir, const std::string& name, int flags, unsigned mode, uid_t owner);

// Moves an entry that cannot be trusted out of the way (renamed within the
// same folder to ".untrusted.<name>.<pid>"), so that nothing of it is used and
// nothing is lost.
bool moveAsideAt(int dir, const std::string& name);

// Moves aside every entry of the folder that belongs to another user
// (what another user left in a folder that was once open to all).
void moveAsideForeignEntries(int dir, uid_t owner);

// The content of a regular file in `dir`, not read through a link, owned by
// `owner`, with no other hard link, and at most maxSize bytes; nullopt with
// errno set (EFBIG when larger, EPERM when not trusted).
std::optional<std::string> readFileAt(int dir, const std::string& name, std::size_t maxSize,
                                      uid_t owner);

// Writes all of the content at the descriptor's position (appends: one
// write, unless the kernel takes less). Returns 0 or an errno value.
int writeWhole(int fd, const std::string& content);

// Writes the content to a new file in `dir` and renames it over `name`, so
// that readers see the old or the new content, never a mix. Returns 0 or an
// errno value.
int replaceFileAt(int dir, const std::string& name, const std::string& content, unsigned mode);

// Removes a folder below `dir` and the plain entries in it, without following
// anything; a folder that holds folders is moved aside instead.
void removeFolderAt(int dir, const std::string& name);

// An exclusive flock on <dir>/<name>, a regular file of `owner` (mode 0600,
// so that only the state directory's owner can open it; anything else there
// is moved aside), waited for at most until the deadline.
class FileLock {
public:
    FileLock(int dir, const std::string& name, Clock::time_point deadline, uid_t owner);
    bool locked() const { return static_cast<bool>(fd_); }
    // ETIMEDOUT when the deadline passed, else the errno of the failure.
    int error() const { return error_; }

private:
    Fd fd_;
    int error_ = 0;
};

} // namespace quillon::advapi32
