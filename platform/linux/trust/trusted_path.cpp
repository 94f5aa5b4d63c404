#include "trusted_path.h"

#include <cerrno>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace quillon::linux_trust {

namespace {
constexpr int kMaxLinks = 40;

void splitInto(std::deque<std::string>& out, const std::string& path, bool front)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start)
            parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    if (front)
        out.insert(out.begin(), parts.begin(), parts.end());
    else
        out.insert(out.end(), parts.begin(), parts.end());
}

std::string joined(const std::vector<std::string>& names)
{
    std::string path;
    for (const auto& name : names)
        path += "/" + name;
    return path.empty() ? "/" : path;
}

// A folder root may pass through: root's, and writable by no one else
// unless sticky.
std::string folderRefusal(const std::string& where, const struct stat& info)
{
    if (info.st_uid != 0)
        return where + " is owned by uid " + std::to_string(info.st_uid);
    if (writableByOthers(info) && (info.st_mode & S_ISVTX) == 0)
        return where + " can be changed by others (writable by group or others, not sticky)";
    return {};
}

Walked failed(int error)
{
    Walked walked;
    walked.error = error;
    return walked;
}

Walked refused(std::string reason)
{
    Walked walked;
    walked.refusal = std::move(reason);
    return walked;
}
} // namespace

void Descriptor::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

bool writableByOthers(const struct stat& info)
{
    return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

Walked walkPath(const std::string& path, const WalkOptions& options, Target target)
{
    if (path.empty() || path[0] != '/')
        return failed(EINVAL);
    const bool strict = options.rootsRule;

    std::vector<Descriptor> folders;
    std::vector<std::string> names; // the path walked so far, for messages
    folders.emplace_back(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folders.back())
        return failed(errno);
    struct stat info {};
    if (::fstat(folders.back().get(), &info) != 0)
        return failed(errno);
    if (strict) {
        if (std::string reason = folderRefusal("/", info); !reason.empty())
            return refused(reason);
    }

    std::deque<std::string> pending;
    splitInto(pending, path, false);
    int links = 0;
    while (!pending.empty()) {
        const std::string name = pending.front();
        pending.pop_front();
        if (name == "." || name == "..") {
            if (name == ".." && folders.size() > 1) {
                folders.pop_back();
                names.pop_back();
            }
            continue;
        }
        const bool last = pending.empty();
        const bool wantFolder = !last || target == Target::Folder;
        const int parent = folders.back().get();
        bool made = false;
        if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || !options.createFolders || !wantFolder)
                return failed(errno);
            made = ::mkdirat(parent, name.c_str(), 0755) == 0;
            if (!made && errno != EEXIST)
                return failed(errno);
            if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
                return failed(errno);
        }
        names.push_back(name);
        if (S_ISLNK(info.st_mode)) {
            // A link is as good as its owner: another user could point it
            // anywhere at any moment.
            if (strict && info.st_uid != 0)
                return refused(joined(names) + " is a link owned by uid " + std::to_string(info.st_uid));
            if (++links > kMaxLinks)
                return failed(ELOOP);
            std::string linkTarget(PATH_MAX, '\0');
            const ssize_t length = ::readlinkat(parent, name.c_str(), linkTarget.data(), linkTarget.size());
            if (length <= 0 || static_cast<std::size_t>(length) >= linkTarget.size())
                return failed(length < 0 ? errno : ENAMETOOLONG);
            linkTarget.resize(static_cast<std::size_t>(length));
            names.pop_back();
            if (linkTarget[0] == '/') {
                folders.resize(1);
                names.clear();
            }
            splitInto(pending, linkTarget, true);
            continue;
        }
        if (!wantFolder) {
            // The file itself: opened as it is, not read, never blocking.
            Descriptor file(::openat(parent, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
            if (!file)
                return failed(errno);
            Walked walked;
            if (::fstat(file.get(), &walked.info) != 0)
                return failed(errno);
            walked.fd = std::move(file);
            walked.path = joined(names);
            return walked;
        }
        Descriptor next(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next)
            return failed(errno);
        // Whatever the umask: others must be able to pass through.
        if (made)
            ::fchmod(next.get(), 0755);
        // What was opened is what is checked.
        if (::fstat(next.get(), &info) != 0)
            return failed(errno);
        if (strict) {
            if (std::string reason = folderRefusal(joined(names), info); !reason.empty())
                return refused(reason);
        }
        folders.push_back(std::move(next));
    }
    // The path ended in a folder ("/", "..").
    if (target == Target::File)
        return failed(EISDIR);
    Walked walked;
    if (::fstat(folders.back().get(), &walked.info) != 0)
        return failed(errno);
    walked.fd = std::move(folders.back());
    walked.path = joined(names);
    return walked;
}

std::string fileRefusal(const std::string& path, const struct stat& info)
{
    if (!S_ISREG(info.st_mode))
        return path + " is not a regular file";
    if (info.st_uid != 0)
        return path + " is owned by uid " + std::to_string(info.st_uid);
    if (writableByOthers(info))
        return path + " is writable by group or others";
    return {};
}

Walked checkRootsFile(const std::string& path)
{
    WalkOptions options;
    options.rootsRule = true;
    Walked walked = walkPath(path, options, Target::File);
    if (walked.error != 0 || !walked.refusal.empty())
        return walked;
    if (std::string reason = fileRefusal(walked.path, walked.info); !reason.empty()) {
        walked.fd.reset();
        walked.refusal = std::move(reason);
    }
    return walked;
}

} // namespace quillon::linux_trust
