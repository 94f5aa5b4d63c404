// File-system helpers of the advapi32 layer: the state directory, locks,
// atomic replacement and Windows error codes for errno values.
#pragma once

#include "platform/win32_base.h"

#include <optional>
#include <string>

namespace quillon::advapi32 {

// The layer's state directory: $QUILLON_STATE_DIR, else /var/lib/quillon for
// root, else $XDG_STATE_HOME/quillon or ~/.local/state/quillon. Created on
// demand (with its parents); empty with the last error set when that fails.
std::string stateDirectory();

// mkdir -p with the given mode for the directories it creates.
bool makeDirectories(const std::string& path, unsigned mode);

// The Windows error code closest to an errno value.
DWORD errorFromErrno(int error);

// An exclusive flock held for the object's life.
class FileLock {
public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool locked() const { return fd_ >= 0; }
    int error() const { return error_; }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

// Writes the whole content to a temporary file beside path and renames it
// over path, so readers see the old or the new content, never a mix.
// Returns 0 or an errno value.
int replaceFile(const std::string& path, const std::string& content, unsigned mode = 0644);

// Whole content of a file; nullopt (errno set) when it cannot be read.
std::optional<std::string> readFile(const std::string& path);

} // namespace quillon::advapi32
