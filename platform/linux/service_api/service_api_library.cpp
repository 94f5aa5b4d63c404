#include "platform/service_api_library.h"

#include "running_program.h"
#include "trusted_path.h"

#include <QByteArray>
#include <QtGlobal>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr const char kLibrary[] = "libquillon_advapi32.so";

// Root runs the library's code: it must be a file root alone can change. Its
// folder is the program's, which the service manager checked before it ran
// the program as root (and a foreground run checks before it runs Java).
bool trustedByRoot(int descriptor, const std::string& path)
{
    if (::geteuid() != 0)
        return true;
    struct stat info {};
    if (::fstat(descriptor, &info) != 0)
        return false;
    const std::string reason = quillon::linux_trust::fileRefusal(path, info);
    if (reason.empty())
        return true;
    qWarning("The service manager library %s is not used: %s", path.c_str(), reason.c_str());
    return false;
}
} // namespace

// Our advapi32 layer lives beside the program (built as quillon_advapi32 into
// the same folder). It is opened by the bytes of that path, whatever their
// encoding (a text form could decode them into another folder's name), and
// handed to QLibrary as /proc/self/fd/<n>, a name that is the opened file
// whatever the folder is called; the descriptor stays open for the process's life.
QString serviceApiLibraryName()
{
    static std::once_flag opened;
    static int descriptor = -1;
    std::call_once(opened, [] {
        const std::string folder = quillon::linux_trust::folderOf(quillon::linux_trust::runningProgramPath());
        const std::string path = folder + "/" + kLibrary;
        descriptor = folder.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) {
            qWarning("The service manager library %s cannot be opened (%s)", path.c_str(), std::strerror(errno));
        } else if (!trustedByRoot(descriptor, path)) {
            ::close(descriptor);
            descriptor = -1;
        }
    });
    // No name at all rather than one the loader would search for.
    if (descriptor < 0)
        return QString();
    return QStringLiteral("/proc/self/fd/%1").arg(descriptor);
}
