#include "event_log.h"

#include "files.h"
#include "text.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon::advapi32 {

namespace {
// A rotation takes a rename: anyone who waits longer than this drops the
// entry rather than hold up its caller.
constexpr auto kRotationLockWait = std::chrono::milliseconds(200);
} // namespace

Fd openEventLogFolder(const StateRoot& root)
{
    // A folder of the older layout (open to everyone, sticky) is closed on
    // its descriptor as it is opened; what others left in it is moved aside
    // once it is closed, so that nothing of theirs is ever taken for ours.
    struct stat before {};
    const bool olderLayout = ::fstatat(root.fd.get(), "eventlog", &before, AT_SYMLINK_NOFOLLOW) == 0
                             && S_ISDIR(before.st_mode) && before.st_uid == root.owner
                             && linux_trust::writableByOthers(before);
    Fd log = openStateFolder(root, "eventlog", true);
    if (log && olderLayout && root.owner == ::geteuid())
        moveAsideForeignEntries(log.get(), root.owner);
    return log;
}

void prepareAccountLog(const StateRoot& root, const Account& account)
{
    const Fd log = openEventLogFolder(root);
    if (!log)
        return;
    // One another user made (an older layout let anyone create it) is
    // replaced: its folders would be that user's to hand out.
    const Fd accounts = openOwnFolderAt(log.get(), "accounts", 0755, root.owner);
    if (!accounts)
        return;
    const std::string key = fileKey(account.user);
    // Made by root, then given to the account on its descriptor; one the
    // account has already is left as it is.
    if (::mkdirat(accounts.get(), key.c_str(), 0755) != 0 && errno != EEXIST)
        return;
    const Fd folder(::openat(accounts.get(), key.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!folder || ::fstat(folder.get(), &info) != 0)
        return;
    if (info.st_uid == root.owner && info.st_uid != account.uid) {
        (void)!::fchown(folder.get(), account.uid, account.gid);
        (void)!::fchmod(folder.get(), 0755);
    }
}

int appendEntry(int folder, const std::string& key, const std::string& line, uid_t owner)
{
    const std::string name = key + ".jsonl";
    for (int attempt = 0; attempt < 4; ++attempt) {
        // Only a file of our own is appended to; anything else is set aside.
        const Fd file = openOwnFileAt(folder, name, O_WRONLY | O_APPEND, 0644, owner);
        if (!file)
            return errno;
        struct stat info {};
        if (::fstat(file.get(), &info) != 0)
            return errno;
        if (static_cast<std::size_t>(info.st_size) + line.size() > kEventLogFileBound && info.st_size > 0) {
            const FileLock lock(folder, "." + key + ".lock", Clock::now() + kRotationLockWait, owner);
            if (!lock.locked())
                return lock.error();
            // Rotate only what is still the current file: another writer may
            // have done it meanwhile.
            struct stat current {};
            const std::string older = key + ".1.jsonl";
            if (::fstatat(folder, name.c_str(), &current, AT_SYMLINK_NOFOLLOW) == 0
                && current.st_ino == info.st_ino && current.st_dev == info.st_dev
                && ::renameat(folder, name.c_str(), folder, older.c_str()) != 0) {
                // A folder in the way of the older file is set aside too.
                if ((errno != EISDIR && errno != ENOTEMPTY && errno != EEXIST) || !moveAsideAt(folder, older))
                    return errno;
            }
            continue;
        }
        // One write per entry: appends of several writers do not mix.
        return writeWhole(file.get(), line);
    }
    return EAGAIN;
}

} // namespace quillon::advapi32
