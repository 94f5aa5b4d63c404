// The shipped library's backend: the machine's own answers, nothing else.
#include "com_backend.h"

namespace quillon::linux_com {

std::shared_ptr<const ComBackend> comBackend()
{
    static const auto machine = std::make_shared<const ComBackend>();
    return machine;
}

} // namespace quillon::linux_com
