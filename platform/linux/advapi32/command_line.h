// A Windows command line as the service manager reads a service's binary
// path: the executable (in double quotes when it holds blanks) and then the
// arguments, split by the rules of the C runtime.
#pragma once

#include <string>
#include <vector>

namespace quillon::advapi32 {

// Element 0 is the executable path; empty when the line has none.
std::vector<std::string> splitCommandLine(const std::string& line);

} // namespace quillon::advapi32
