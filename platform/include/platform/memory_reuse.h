// A program that handles a stream of large, short-lived buffers (the
// supervisor's relay: each read of the JVM's output is up to 64 KiB of bytes
// and twice that as text) keeps the memory it frees for the next ones,
// instead of returning it to the system and faulting it in again at every
// read. Call once, early; it holds for the whole process.
#pragma once

namespace quillon::platform {

void keepFreedMemoryForReuse() noexcept;

} // namespace quillon::platform
