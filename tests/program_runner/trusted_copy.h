// What root runs as root must be root's alone, all the way up from /: the
// service manager and quillonsvc refuse a program, runtime or archive in a
// folder another user can change. A build tree can lie anywhere (a user's
// home, a world-writable CI folder), so a test that has root run a program of
// the build makes a copy of it where only root can change anything: a
// folder of its own below /tmp, owned by root, with the libraries the program
// loads from the build tree at the same places relative to it. Tests that
// attack on purpose make their untrusted folders themselves.
#pragma once

#include <string>
#include <vector>

namespace quillon::testing {

// The copy of `program` (made once per process and program, removed at
// exit), with the files named in `beside` copied from the program's folder
// into the copy's. Not run as root: `program` itself, since only root's runs
// are checked. Empty when the copy could not be made (a test failure is added).
std::string trustedCopyOf(const std::string& program, const std::vector<std::string>& beside = {});

// A fresh folder below /tmp that only root can change (0755), removed at
// exit; for tests that lay out a program folder of their own. Not root: a
// folder the same way, owned by the user.
std::string trustedScratchFolder();

} // namespace quillon::testing
