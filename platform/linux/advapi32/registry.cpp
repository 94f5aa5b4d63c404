#include "registry.h"

#include "published_status.h"
#include "text.h"
#include "wire.h"

#include "platform/win32_service.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <unistd.h>

namespace quillon::advapi32 {

namespace {
// Far more than any entry needs; a larger file is no entry of ours.
constexpr std::size_t kMaxEntrySize = 64 * 1024;
constexpr auto kRegistryLockWait = std::chrono::seconds(10);

std::string entryName(const std::string& name)
{
    return fileKey(name) + ".conf";
}
} // namespace

DWORD lockError(const FileLock& lock)
{
    return lock.error() == ETIMEDOUT ? ERROR_SERVICE_DATABASE_LOCKED : errorFromErrno(lock.error());
}

Registry::Registry(const StateRoot& root)
    : root_(root)
    , services_(openStateFolder(root, "services", true))
    , run_(openStateFolder(root, "run", true))
    , locks_(openStateFolder(root, "locks", true))
{
}

std::optional<ServiceConfig> Registry::load(const std::string& name) const
{
    const auto text = readFileAt(services_.get(), entryName(name), kMaxEntrySize, root_.owner);
    if (!text)
        return std::nullopt;
    auto config = parseConfig(*text);
    // Keys of very long names end in a hash: make sure it is this name.
    if (!config || !sameName(config->name, name)) {
        errno = ENOENT;
        return std::nullopt;
    }
    return config;
}

std::vector<ServiceConfig> Registry::loadAll() const
{
    std::vector<ServiceConfig> all;
    DIR* dir = ::fdopendir(::dup(services_.get()));
    if (dir == nullptr)
        return all;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string file = entry->d_name;
        if (file.size() <= 5 || file[0] == '.' || file.compare(file.size() - 5, 5, ".conf") != 0)
            continue;
        if (const auto text = readFileAt(services_.get(), file, kMaxEntrySize, root_.owner)) {
            if (auto config = parseConfig(*text))
                all.push_back(std::move(*config));
        }
    }
    ::closedir(dir);
    return all;
}

int Registry::store(const ServiceConfig& config) const
{
    return replaceFileAt(services_.get(), entryName(config.name), serializeConfig(config), 0644);
}

void Registry::removeEntry(const std::string& name) const
{
    ::unlinkat(services_.get(), entryName(name).c_str(), 0);
}

Fd Registry::runFolder(const std::string& name, bool create) const
{
    const std::string key = fileKey(name);
    return create ? openOwnFolderAt(run_.get(), key, 0755, root_.owner)
                  : openFolderAt(run_.get(), key, false, 0755, root_.owner);
}

void Registry::clearRunFolder(const std::string& name) const
{
    const Fd folder = runFolder(name, false);
    if (folder && instanceAlive(folder.get(), root_.owner))
        return;
    removeFolderAt(run_.get(), fileKey(name));
}

std::unique_ptr<FileLock> Registry::lockRegistry() const
{
    const auto wait = std::min<Clock::duration>(kRegistryLockWait, serviceRequestTimeout());
    return std::make_unique<FileLock>(locks_.get(), "registry", Clock::now() + wait, root_.owner);
}

std::unique_ptr<FileLock> Registry::lockStart(const std::string& name) const
{
    // A start holds its lock until the process has connected, at most a
    // start's time-out; wait that and a little more.
    const auto wait = serviceRequestTimeout() + std::chrono::seconds(5);
    return lockStart(name, Clock::now() + wait);
}

std::unique_ptr<FileLock> Registry::lockStart(const std::string& name, Clock::time_point deadline) const
{
    return std::make_unique<FileLock>(locks_.get(), fileKey(name) + ".start", deadline, root_.owner);
}

} // namespace quillon::advapi32
