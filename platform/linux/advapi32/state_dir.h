// The state directory: where it is, and the checks before anything in it is
// trusted. Run as root, the layer acts only in a directory that no one but
// root can change: owned by root and writable by no one else, below folders
// that only root can change (or sticky ones, like /tmp), reached through no
// link another user owns. Anything else is refused before it is read.
#pragma once

#include "files.h"

#include <optional>
#include <string>
#include <sys/types.h>

namespace quillon::advapi32 {

// $QUILLON_STATE_DIR when set, else /var/lib/quillon for root, else
// $XDG_STATE_HOME/quillon or ~/.local/state/quillon. Empty when there is none.
std::string stateDirectoryPath();

struct StateRoot {
    Fd fd;
    std::string path; // as it was given
    uid_t owner = 0;  // the folders and files in it belong to this user
};

// Opens the state directory (making the missing folders of its path when
// `create` is set) and checks that it can be trusted. Fails with the last
// error set: ERROR_ACCESS_DENIED for a directory that cannot be trusted and
// ERROR_INVALID_NAME for a relative path (the reason goes to standard error
// and the system log), else the code of what failed.
std::optional<StateRoot> openStateRoot(const std::string& path, bool create);

// The folders of the state directory, checked to be its owner's. Invalid Fd
// with errno set when that fails.
Fd openStateFolder(const StateRoot& root, const std::string& name, bool create);

} // namespace quillon::advapi32
