#include "platform/service_api_library.h"

#include <QByteArray>
#include <QtGlobal>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {
constexpr const char kLibrary[] = "libquillon_advapi32.so";

// The program's folder as the kernel has it: bytes, whatever their encoding.
// A text form could decode them into another folder's name.
std::string ownFolder()
{
    for (std::size_t size = PATH_MAX;; size *= 2) {
        std::string path(size, '\0');
        const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        if (length <= 0)
            return {};
        if (static_cast<std::size_t>(length) < size) {
            path.resize(static_cast<std::size_t>(length));
            return path.substr(0, path.rfind('/'));
        }
    }
}
} // namespace

// Our advapi32 layer lives beside the program (built as quillon_advapi32 into
// the same folder). It is opened by the bytes of that path and handed to
// QLibrary as /proc/self/fd/<n>, a name that is the opened file whatever the
// folder is called; the descriptor stays open for the process's life.
QString serviceApiLibraryName()
{
    static std::once_flag opened;
    static int descriptor = -1;
    std::call_once(opened, [] {
        const std::string folder = ownFolder();
        const std::string path = folder + "/" + kLibrary;
        descriptor = folder.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            qWarning("The service manager library %s cannot be opened (%s)", path.c_str(), std::strerror(errno));
    });
    // No name at all rather than one the loader would search for.
    if (descriptor < 0)
        return QString();
    return QStringLiteral("/proc/self/fd/%1").arg(descriptor);
}
