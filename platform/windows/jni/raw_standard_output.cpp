#include "platform/raw_standard_output.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

namespace quillon::platform {

// The C runtime translates line ends when the buffer is written out, not when
// text enters it: so the host's pending text is flushed before the switch, and
// ours before the host's mode comes back. Holding the stream's lock keeps other
// threads' writes out of the binary stretch.
RawStandardOutput::RawStandardOutput() noexcept
    : hostMode_(-1)
{
    _lock_file(stdout);
    fflush(stdout);
    const int descriptor = _fileno(stdout);
    // No standard output (a process without a console): nothing to switch.
    if (descriptor >= 0)
        hostMode_ = _setmode(descriptor, _O_BINARY);
}

RawStandardOutput::~RawStandardOutput()
{
    fflush(stdout);
    if (hostMode_ != -1)
        _setmode(_fileno(stdout), hostMode_);
    _unlock_file(stdout);
}

} // namespace quillon::platform
