// The running program's own path, as the kernel has it: bytes, whatever
// their encoding. A text form could decode them into another file's name.
#pragma once

#include <string>

namespace quillon::linux_trust {

// The target of /proc/self/exe; empty when it cannot be read.
std::string runningProgramPath();

// The folder part of a path ("/" for a file in /).
std::string folderOf(const std::string& path);

} // namespace quillon::linux_trust
