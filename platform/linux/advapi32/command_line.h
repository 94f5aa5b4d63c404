// A Windows command line as the service manager reads a service's binary
// path, split by the rules of CommandLineToArgvW: the executable up to the
// first blank (space or tab), or in double quotes up to the next quote with
// no escapes; then the arguments, with the backslash and quote rules. A pure
// function of its text.
#pragma once

#include <string>
#include <vector>

namespace quillon::advapi32 {

// Element 0 is the executable path; empty when the line has none.
std::vector<std::string> splitCommandLine(const std::string& line);

} // namespace quillon::advapi32
