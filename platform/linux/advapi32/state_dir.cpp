#include "state_dir.h"

#include "syslog_sink.h"
#include "trusted_path.h"

#include "platform/win32_service.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace quillon::advapi32 {

namespace {

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
    // A relative path would name another folder in every working directory
    // (a service's is /): the manager and its services must agree on one.
    if (given[0] != '/') {
        reportRefusal(given, "it is a relative path; QUILLON_STATE_DIR must name a folder from /");
        SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    // Root trusts only what root alone can change, all the way down.
    const bool strict = ::geteuid() == 0;
    linux_trust::WalkOptions options;
    options.rootsRule = strict;
    options.createFolders = create;
    linux_trust::Walked walked = linux_trust::walkPath(given, options, linux_trust::Target::Folder);
    if (!walked.refusal.empty())
        return refuse(given, walked.refusal);
    if (walked.error != 0)
        return fail(walked.error);

    const struct stat& info = walked.info;
    const std::string& where = walked.path;
    if (strict && info.st_uid != 0)
        return refuse(given, where + " is owned by uid " + std::to_string(info.st_uid));
    if (!strict && info.st_uid != ::geteuid() && info.st_uid != 0)
        return refuse(given, where + " is owned by uid " + std::to_string(info.st_uid));
    if (linux_trust::writableByOthers(info))
        return refuse(given, where + " is writable by group or others");
    StateRoot root;
    root.fd = Fd(walked.fd.release());
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
