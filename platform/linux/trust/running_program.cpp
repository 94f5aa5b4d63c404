#include "running_program.h"

#include <climits>
#include <unistd.h>

namespace quillon::linux_trust {

std::string runningProgramPath()
{
    for (std::size_t size = PATH_MAX;; size *= 2) {
        std::string path(size, '\0');
        const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        if (length <= 0)
            return {};
        if (static_cast<std::size_t>(length) < size) {
            path.resize(static_cast<std::size_t>(length));
            return path;
        }
    }
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace quillon::linux_trust
