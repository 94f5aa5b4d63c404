// The registry of installed services in the state directory: one file per
// service under services/, replaced atomically; read-modify-write sequences
// hold the registry lock. Per service, a run folder (run/<service>/) holds
// what the manager knows of its process, and a start lock
// (locks/<service>.start) makes starting, deleting and installing the name
// one at a time. Locks are always taken start lock first.
#pragma once

#include "files.h"
#include "registry_entry.h"
#include "state_dir.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillon::advapi32 {

class Registry {
public:
    // The folders are made when the caller owns the state directory.
    explicit Registry(const StateRoot& root);

    const StateRoot& root() const { return root_; }
    // The folders are there and can be trusted (the locks only their owner
    // can open); false with errno set.
    bool ready() const { return services_ && run_; }

    // The entry of this name (compared without regard to ASCII case);
    // nullopt with errno set (ENOENT when there is none).
    std::optional<ServiceConfig> load(const std::string& name) const;
    std::vector<ServiceConfig> loadAll() const;
    // Returns 0 or an errno value.
    int store(const ServiceConfig& config) const;
    void removeEntry(const std::string& name) const;

    // The service's run folder; a folder there that is not the state
    // directory owner's is moved aside and made anew when `create` is set.
    Fd runFolder(const std::string& name, bool create) const;
    // Empties the run folder for a new service of the name, unless the
    // process started last still lives (it keeps its record until it ends).
    void clearRunFolder(const std::string& name) const;

    // Held for the object's life; check locked(). Waits are bounded: the
    // registry lock a few seconds, a start lock a start's time-out and more.
    std::unique_ptr<FileLock> lockRegistry() const;
    std::unique_ptr<FileLock> lockStart(const std::string& name) const;
    // The start lock, waited for until the deadline only.
    std::unique_ptr<FileLock> lockStart(const std::string& name, Clock::time_point deadline) const;

private:
    const StateRoot& root_;
    Fd services_;
    Fd run_;
    Fd locks_;
};

// The error to report for a lock that could not be had.
DWORD lockError(const FileLock& lock);

} // namespace quillon::advapi32
