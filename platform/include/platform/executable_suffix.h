// The file-name suffix of programs on this system ("" or ".exe").
#pragma once

namespace quillon::platform {

const char* executableSuffix() noexcept;

} // namespace quillon::platform
