// The C runtime's standard output as a plain byte stream, for a library that
// prints into a host it does not own. Windows' C runtime starts standard
// output in text mode, where every "\n" goes out as "\r\n"; the host's own
// mode must survive the library's writes. While a RawStandardOutput lives,
// what the stream already held has gone out as the host wrote it, and bytes
// written to the stream go out exactly as given; once it is gone they have
// gone out (flushed) and the stream is in the host's mode again. Other
// threads' writes to the stream wait.
#pragma once

namespace quillon::platform {

class RawStandardOutput
{
public:
    RawStandardOutput() noexcept;
    ~RawStandardOutput();

    RawStandardOutput(const RawStandardOutput&) = delete;
    RawStandardOutput& operator=(const RawStandardOutput&) = delete;

private:
    int hostMode_;
};

} // namespace quillon::platform
