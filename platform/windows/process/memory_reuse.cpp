#include "platform/memory_reuse.h"

namespace quillon::platform {

// The Windows heap keeps freed blocks of these sizes for reuse by itself.
void keepFreedMemoryForReuse() noexcept {}

} // namespace quillon::platform
