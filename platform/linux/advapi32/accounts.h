// Service accounts: a registered Windows account name (".\name",
// "DOMAIN\name", "name", LocalSystem) and the Linux user it stands for.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quillon::advapi32 {

struct Account {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    std::string user;
    std::string home;
    std::string shell;
};

// True for an empty name and for LocalSystem with or without a domain part:
// the service runs as the manager's user (root when root installed it).
bool isLocalSystem(const std::string& registered);

// The user behind a registered account name (the part after the last
// backslash); nullopt when there is no such user.
std::optional<Account> resolveAccount(const std::string& registered);

// The user of this uid (the manager's own account, for LocalSystem).
std::optional<Account> accountOfUid(uid_t uid);

} // namespace quillon::advapi32
