#include "state_dir.h"

#include "syslog_sink.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace quillon::advapi32 {

namespace {
constexpr int kMaxLinks = 40;

std::string homeDirectory()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return home;
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0
        && found != nullptr && found->pw_dir != nullptr)
        return found->pw_dir;
    return {};
}

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

bool writableByOthers(const struct stat& info)
{
    return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// Says once per process and directory why it is not used: on standard error
// for whoever runs the command, and in the system log for a service.
void reportRefusal(const std::string& given, const std::string& reason)
{
    static std::mutex mutex;
    static std::set<std::string> reported;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!reported.insert(given).second)
            return;
    }
    const std::string text = "The state directory " + given + " is not used: " + reason;
    std::fprintf(stderr, "quillon service manager: %s\n", text.c_str());
    sendToSystemLog(LOG_ERR, "quillon-service-manager", text);
}

std::optional<StateRoot> refuse(const std::string& given, const std::string& reason)
{
    reportRefusal(given, reason);
    SetLastError(ERROR_ACCESS_DENIED);
    return std::nullopt;
}

std::optional<StateRoot> fail(int error)
{
    SetLastError(errorFromErrno(error));
    return std::nullopt;
}
} // namespace

std::string stateDirectoryPath()
{
    std::string dir;
    if (const char* overridden = std::getenv("QUILLON_STATE_DIR"); overridden != nullptr && *overridden != '\0')
        dir = overridden;
    else if (::geteuid() == 0)
        dir = "/var/lib/quillon";
    else if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/')
        dir = std::string(xdg) + "/quillon";
    else if (const std::string home = homeDirectory(); !home.empty())
        dir = home + "/.local/state/quillon";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

std::optional<StateRoot> openStateRoot(const std::string& given, bool create)
{
    if (given.empty())
        return fail(ENOENT);
    std::string path = given;
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr)
            return fail(errno);
        path = std::string(cwd) + "/" + path;
    }
    // Root trusts only what root alone can change, all the way down.
    const bool strict = ::geteuid() == 0;
    auto trustedOnTheWay = [strict](const struct stat& info) {
        return !strict || (info.st_uid == 0 && (!writableByOthers(info) || (info.st_mode & S_ISVTX) != 0));
    };

    std::vector<Fd> folders;
    std::vector<std::string> names; // the path walked so far, for messages
    folders.emplace_back(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folders.back())
        return fail(errno);
    struct stat info {};
    if (::fstat(folders.back().get(), &info) != 0)
        return fail(errno);
    if (!trustedOnTheWay(info))
        return refuse(given, "/ can be changed by others");

    std::deque<std::string> pending;
    splitInto(pending, path, false);
    int links = 0;
    while (!pending.empty()) {
        const std::string name = pending.front();
        pending.pop_front();
        if (name == ".")
            continue;
        if (name == "..") {
            if (folders.size() > 1) {
                folders.pop_back();
                names.pop_back();
            }
            continue;
        }
        const int parent = folders.back().get();
        bool made = false;
        if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || !create)
                return fail(errno);
            made = ::mkdirat(parent, name.c_str(), 0755) == 0;
            if (!made && errno != EEXIST)
                return fail(errno);
            if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
                return fail(errno);
        }
        names.push_back(name);
        if (S_ISLNK(info.st_mode)) {
            // A link is as good as its owner: another user could point it
            // anywhere at any moment.
            if (strict && info.st_uid != 0)
                return refuse(given, joined(names) + " is a link owned by uid " + std::to_string(info.st_uid));
            if (++links > kMaxLinks)
                return fail(ELOOP);
            std::string target(PATH_MAX, '\0');
            const ssize_t length = ::readlinkat(parent, name.c_str(), target.data(), target.size());
            if (length <= 0 || static_cast<std::size_t>(length) >= target.size())
                return fail(length < 0 ? errno : ENAMETOOLONG);
            target.resize(static_cast<std::size_t>(length));
            names.pop_back();
            if (target[0] == '/') {
                folders.resize(1);
                names.clear();
            }
            splitInto(pending, target, true);
            continue;
        }
        Fd next(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next)
            return fail(errno);
        // Whatever the umask: the accounts of services must pass through.
        if (made)
            ::fchmod(next.get(), 0755);
        // What was opened is what is checked.
        if (::fstat(next.get(), &info) != 0)
            return fail(errno);
        if (!trustedOnTheWay(info)) {
            if (info.st_uid != 0)
                return refuse(given, joined(names) + " is owned by uid " + std::to_string(info.st_uid));
            return refuse(given, joined(names) + " can be changed by others (writable by group or others, not sticky)");
        }
        folders.push_back(std::move(next));
    }

    if (::fstat(folders.back().get(), &info) != 0)
        return fail(errno);
    const std::string where = joined(names);
    if (strict && info.st_uid != 0)
        return refuse(given, where + " is owned by uid " + std::to_string(info.st_uid));
    if (!strict && info.st_uid != ::geteuid() && info.st_uid != 0)
        return refuse(given, where + " is owned by uid " + std::to_string(info.st_uid));
    if (writableByOthers(info))
        return refuse(given, where + " is writable by group or others");
    StateRoot root;
    root.fd = std::move(folders.back());
    root.path = given;
    root.owner = info.st_uid;
    return root;
}

Fd openStateFolder(const StateRoot& root, const std::string& name, bool create)
{
    // Locks only the owner can even open.
    const unsigned mode = name == "locks" ? 0700 : 0755;
    return openFolderAt(root.fd.get(), name, create && root.owner == ::geteuid(), mode, root.owner);
}

} // namespace quillon::advapi32
