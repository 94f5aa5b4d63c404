#include "files.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon::advapi32 {

namespace {
// Windows codes not in the shared header.
constexpr DWORD kErrorWriteFault = 29;
constexpr DWORD kErrorDiskFull = 112;

std::string homeDirectory()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return home;
    if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return {};
}

std::string defaultStateDirectory()
{
    if (::geteuid() == 0)
        return "/var/lib/quillon";
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/quillon";
    const std::string home = homeDirectory();
    if (home.empty())
        return {};
    return home + "/.local/state/quillon";
}
} // namespace

std::string stateDirectory()
{
    std::string dir;
    if (const char* overridden = std::getenv("QUILLON_STATE_DIR");
        overridden != nullptr && *overridden != '\0')
        dir = overridden;
    else
        dir = defaultStateDirectory();
    if (dir.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return {};
    }
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (!makeDirectories(dir, 0755)) {
        SetLastError(errorFromErrno(errno));
        return {};
    }
    return dir;
}

bool makeDirectories(const std::string& path, unsigned mode)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return true;
        errno = ENOTDIR;
        return false;
    }
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        if (!makeDirectories(path.substr(0, slash), 0755))
            return false;
    }
    if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0)
        return errno == EEXIST;
    // The exact mode, whatever the umask (the event-log folder needs 01777).
    ::chmod(path.c_str(), static_cast<mode_t>(mode));
    return true;
}

DWORD errorFromErrno(int error)
{
    switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case EINVAL:
    case ENAMETOOLONG: return ERROR_INVALID_PARAMETER;
    default: return kErrorWriteFault;
    }
}

FileLock::FileLock(const std::string& path)
{
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error_ = errno;
            ::close(fd_);
            fd_ = -1;
            return;
        }
    }
}

FileLock::~FileLock()
{
    if (fd_ >= 0)
        ::close(fd_); // releases the flock
}

int replaceFile(const std::string& path, const std::string& content, unsigned mode)
{
    static std::atomic<unsigned> counter{0};
    const std::string temporary = path + ".tmp." + std::to_string(::getpid()) + "."
                                  + std::to_string(counter.fetch_add(1));
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          static_cast<mode_t>(mode));
    if (fd < 0)
        return errno;
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            ::unlink(temporary.c_str());
            return error;
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0 || ::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return error;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return error;
    }
    return 0;
}

std::optional<std::string> readFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string content;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            errno = error;
            return std::nullopt;
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return content;
}

} // namespace quillon::advapi32
