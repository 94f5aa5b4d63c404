#include "platform/raw_standard_output.h"

#include <cstdio>

namespace quillon::platform {

// The C library writes standard output's bytes as given: nothing to switch.
// The stream's lock keeps other threads' writes out of ours, and ours go out
// before it is let go, as on Windows: to a pipe or a file the C library would
// hold them until its buffer fills or the JVM exits, after anything Java
// writes meanwhile.
RawStandardOutput::RawStandardOutput() noexcept
    : hostMode_(0)
{
    flockfile(stdout);
}

RawStandardOutput::~RawStandardOutput()
{
    std::fflush(stdout);
    funlockfile(stdout);
}

} // namespace quillon::platform
