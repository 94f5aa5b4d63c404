// The attacker of the security tests: a local user that is not root (nobody,
// uid and gid 65534, no groups), acted as through setpriv (util-linux).
#pragma once

#include <string>
#include <vector>

namespace quillon::testing {

inline constexpr unsigned kNobody = 65534;

// Why the tests cannot act as that user here (not root, no setpriv); empty
// when they can.
std::string otherUserUnavailable();

// The command line that runs a program as that user.
std::vector<std::string> asNobody(const std::vector<std::string>& argv);
// ... and a shell command.
std::vector<std::string> shellAsNobody(const std::string& command);

} // namespace quillon::testing
