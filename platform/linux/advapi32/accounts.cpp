#include "accounts.h"

#include "text.h"

#include <grp.h>
#include <pwd.h>
#include <vector>

namespace quillon::advapi32 {

namespace {
std::string userPart(const std::string& registered)
{
    const std::size_t slash = registered.rfind('\\');
    return slash == std::string::npos ? registered : registered.substr(slash + 1);
}
} // namespace

bool isLocalSystem(const std::string& registered)
{
    return registered.empty() || sameName(userPart(registered), "LocalSystem");
}

namespace {
std::optional<Account> accountOf(const passwd* found)
{
    if (found == nullptr)
        return std::nullopt;
    Account account;
    account.uid = found->pw_uid;
    account.gid = found->pw_gid;
    account.user = found->pw_name;
    account.home = found->pw_dir != nullptr ? found->pw_dir : "/";
    account.shell = found->pw_shell != nullptr ? found->pw_shell : "/bin/sh";
    int count = 64;
    account.groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(found->pw_name, found->pw_gid, account.groups.data(), &count) < 0) {
        account.groups.resize(static_cast<std::size_t>(count));
        ::getgrouplist(found->pw_name, found->pw_gid, account.groups.data(), &count);
    }
    account.groups.resize(static_cast<std::size_t>(count));
    return account;
}
} // namespace

std::optional<Account> resolveAccount(const std::string& registered)
{
    const std::string user = userPart(registered);
    if (user.empty())
        return std::nullopt;
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0)
        return std::nullopt;
    return accountOf(found);
}

std::optional<Account> accountOfUid(uid_t uid)
{
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0)
        return std::nullopt;
    return accountOf(found);
}

} // namespace quillon::advapi32
