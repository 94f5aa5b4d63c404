#include "platform/raw_standard_output.h"

namespace quillon::platform {

// The C library writes standard output's bytes as given: nothing to switch.
RawStandardOutput::RawStandardOutput() noexcept
    : hostMode_(0)
{
}

RawStandardOutput::~RawStandardOutput() = default;

} // namespace quillon::platform
