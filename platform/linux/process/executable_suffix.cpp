#include "platform/executable_suffix.h"

namespace quillon::platform {

const char* executableSuffix() noexcept
{
    return "";
}

} // namespace quillon::platform
