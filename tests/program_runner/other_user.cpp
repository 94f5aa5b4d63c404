#include "other_user.h"

#include <unistd.h>

namespace quillon::testing {

namespace {
constexpr const char kSetpriv[] = "/usr/bin/setpriv";
}

std::string otherUserUnavailable()
{
    if (::geteuid() != 0)
        return "acting as another user needs root";
    if (::access(kSetpriv, X_OK) != 0)
        return "setpriv (util-linux) is not installed";
    return {};
}

std::vector<std::string> asNobody(const std::vector<std::string>& argv)
{
    std::vector<std::string> all {kSetpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
}

std::vector<std::string> shellAsNobody(const std::string& command)
{
    return asNobody({"/bin/sh", "-c", command});
}

} // namespace quillon::testing
