#include "platform/executable_suffix.h"

namespace quillon::platform {

const char* executableSuffix() noexcept
{
    return ".exe";
}

} // namespace quillon::platform
