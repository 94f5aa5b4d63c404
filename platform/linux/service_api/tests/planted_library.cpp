// Stands in for a library someone planted: when it is loaded it creates the
// file named by QUILLON_PLANTED_MARKER, and it has none of the functions.
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {
__attribute__((constructor)) void loaded()
{
    if (const char* marker = std::getenv("QUILLON_PLANTED_MARKER"); marker != nullptr)
        ::close(::open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
}
} // namespace
