#include "platform/memory_reuse.h"

#include <malloc.h>

namespace quillon::platform {

namespace {
// Blocks up to this size come from the heap, not from a mapping of their own
// (a fresh mapping is faulted in page by page every time).
constexpr int kLargestHeapBlock = 4 << 20;
// The heap gives memory back only when this much is free at its top: by
// default a few hundred KiB, which a single relayed read frees.
constexpr int kFreeMemoryKept = 16 << 20;
} // namespace

void keepFreedMemoryForReuse() noexcept
{
    // Setting either fixes both; glibc would otherwise raise them itself,
    // but only to twice the largest block freed, which one read exceeds.
    ::mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
    ::mallopt(M_TRIM_THRESHOLD, kFreeMemoryKept);
}

} // namespace quillon::platform
