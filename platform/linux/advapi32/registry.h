// The registry of installed services: one file per service under
// <state>/services, replaced atomically; read-modify-write sequences hold the
// registry lock (<state>/services/.lock).
#pragma once

#include "platform/win32_base.h"

#include <optional>
#include <string>
#include <vector>

namespace quillon::advapi32 {

struct ServiceConfig {
    std::string name;
    std::string displayName;
    std::string commandLine;
    std::string account; // empty: the manager's own account (LocalSystem)
    std::string description;
    DWORD type = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    bool markedForDelete = false;
};

class Registry {
public:
    explicit Registry(std::string stateDir);

    const std::string& stateDir() const { return stateDir_; }
    std::string lockPath() const;
    // Per-service folder of the running state: published status, control
    // socket, start lock.
    std::string runDir(const std::string& name) const;

    // The entry of this name (compared without regard to ASCII case).
    std::optional<ServiceConfig> load(const std::string& name) const;
    std::vector<ServiceConfig> loadAll() const;
    // Returns 0 or an errno value.
    int store(const ServiceConfig& config) const;
    // Removes the entry and its run folder.
    void remove(const std::string& name) const;
    void clearRunDir(const std::string& name) const;

    // Makes the folders; false with errno set when that fails.
    bool prepare() const;

private:
    std::string servicesDir() const;
    std::string entryPath(const std::string& name) const;
    std::string stateDir_;
};

std::string serializeConfig(const ServiceConfig& config);
std::optional<ServiceConfig> parseConfig(const std::string& text);

} // namespace quillon::advapi32
