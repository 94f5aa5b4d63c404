#include "files.h"

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quillon::advapi32 {

namespace {
// Windows codes not in the shared header.
constexpr DWORD kErrorWriteFault = 29;
constexpr DWORD kErrorDiskFull = 112;
constexpr DWORD kErrorTimeout = 1460;
constexpr const char kAsidePrefix[] = ".untrusted.";

} // namespace

int writeWhole(int fd, const std::string& content)
{
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

DWORD errorFromErrno(int error)
{
    switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case ELOOP:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case EINVAL:
    case ENAMETOOLONG: return ERROR_INVALID_PARAMETER;
    case ETIMEDOUT: return kErrorTimeout;
    default: return kErrorWriteFault;
    }
}

Fd openFolderAt(int parent, const std::string& name, bool create, unsigned mode, uid_t owner)
{
    if (create && ::mkdirat(parent, name.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST)
        return Fd();
    Fd folder(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder)
        return Fd();
    struct stat info {};
    if (::fstat(folder.get(), &info) != 0)
        return Fd();
    if (info.st_uid != owner) {
        errno = EPERM;
        return Fd();
    }
    // Ours, but open to others (a folder of an older layout, or a umask):
    // close it on the descriptor before anything is done inside.
    if (linux_trust::writableByOthers(info) || (info.st_mode & 07777) != mode) {
        if (info.st_uid != ::geteuid() || ::fchmod(folder.get(), static_cast<mode_t>(mode)) != 0) {
            if (linux_trust::writableByOthers(info)) {
                errno = EPERM;
                return Fd();
            }
        }
    }
    return folder;
}

Fd openOwnFolderAt(int parent, const std::string& name, unsigned mode, uid_t owner)
{
    Fd folder = openFolderAt(parent, name, true, mode, owner);
    if (!folder && (errno == EPERM || errno == ELOOP || errno == ENOTDIR) && moveAsideAt(parent, name))
        folder = openFolderAt(parent, name, true, mode, owner);
    return folder;
}

Fd openOwnFileAt(int dir, const std::string& name, int flags, unsigned mode, uid_t owner)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        Fd file(::openat(dir, name.c_str(), flags | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY,
                         static_cast<mode_t>(mode)));
        struct stat info {};
        if (file) {
            if (::fstat(file.get(), &info) != 0)
                return Fd();
            if (S_ISREG(info.st_mode) && info.st_uid == owner && info.st_nlink == 1)
                return file;
        } else {
            // A link (ELOOP), a folder (EISDIR), a FIFO or socket nobody
            // reads (ENXIO): look at what is there without opening it.
            const int error = errno;
            if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0
                || (S_ISREG(info.st_mode) && info.st_uid == owner && info.st_nlink == 1)) {
                errno = error;
                return Fd();
            }
        }
        if (!moveAsideAt(dir, name))
            return Fd();
    }
    errno = EAGAIN;
    return Fd();
}

bool moveAsideAt(int dir, const std::string& name)
{
    static std::atomic<unsigned> counter{0};
    const std::string aside = kAsidePrefix + name + "." + std::to_string(::getpid()) + "."
                              + std::to_string(counter.fetch_add(1));
    return ::renameat(dir, name.c_str(), dir, aside.c_str()) == 0;
}

void moveAsideForeignEntries(int dir, uid_t owner)
{
    std::vector<std::string> foreign;
    if (DIR* listing = ::fdopendir(::dup(dir)); listing != nullptr) {
        while (const dirent* entry = ::readdir(listing)) {
            const std::string name = entry->d_name;
            struct stat info {};
            if (name == "." || name == ".." || name.rfind(kAsidePrefix, 0) == 0
                || ::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (info.st_uid != owner)
                foreign.push_back(name);
        }
        ::closedir(listing);
    }
    // Renamed once the listing is done: a rename during it could show an
    // entry twice.
    for (const std::string& name : foreign)
        moveAsideAt(dir, name);
}

std::optional<std::string> readFileAt(int dir, const std::string& name, std::size_t maxSize,
                                      uid_t owner)
{
    // O_NONBLOCK: a fifo or device put in place of the file never blocks us.
    Fd file(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file)
        return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        return std::nullopt;
    if (!S_ISREG(info.st_mode) || info.st_uid != owner || info.st_nlink != 1) {
        errno = EPERM;
        return std::nullopt;
    }
    if (static_cast<unsigned long long>(info.st_size) > maxSize) {
        errno = EFBIG;
        return std::nullopt;
    }
    std::string content;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
        if (content.size() > maxSize) {
            errno = EFBIG;
            return std::nullopt;
        }
    }
    return content;
}

int replaceFileAt(int dir, const std::string& name, const std::string& content, unsigned mode)
{
    static std::atomic<unsigned> counter{0};
    const std::string temporary = "." + name + ".tmp." + std::to_string(::getpid()) + "."
                                  + std::to_string(counter.fetch_add(1));
    Fd file(::openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     static_cast<mode_t>(mode)));
    if (!file)
        return errno;
    int error = writeWhole(file.get(), content);
    if (error == 0 && ::fchmod(file.get(), static_cast<mode_t>(mode)) != 0)
        error = errno;
    if (error == 0 && ::close(file.release()) != 0)
        error = errno;
    if (error == 0 && ::renameat(dir, temporary.c_str(), dir, name.c_str()) != 0)
        error = errno;
    if (error != 0)
        ::unlinkat(dir, temporary.c_str(), 0);
    return error;
}

void removeFolderAt(int dir, const std::string& name)
{
    Fd folder(::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder)
        return;
    bool holdsFolders = false;
    if (DIR* listing = ::fdopendir(::dup(folder.get())); listing != nullptr) {
        while (const dirent* entry = ::readdir(listing)) {
            const std::string child = entry->d_name;
            if (child == "." || child == "..")
                continue;
            // unlinkat removes the name itself, whatever it points to.
            if (::unlinkat(folder.get(), child.c_str(), 0) != 0 && errno == EISDIR)
                holdsFolders = true;
        }
        ::closedir(listing);
    }
    if (holdsFolders || ::unlinkat(dir, name.c_str(), AT_REMOVEDIR) != 0)
        moveAsideAt(dir, name);
}

FileLock::FileLock(int dir, const std::string& name, Clock::time_point deadline, uid_t owner)
{
    Fd file = openOwnFileAt(dir, name, O_RDWR, 0600, owner);
    if (!file) {
        error_ = errno;
        return;
    }
    // flock has no time-out: try, and back off up to 20 ms between tries.
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0) {
            fd_ = std::move(file);
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error_ = errno;
            return;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            error_ = ETIMEDOUT;
            return;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

} // namespace quillon::advapi32
