// What a started service inherits besides its environment: like a Windows
// service, which gets the service manager's settings and none of whoever
// asked for the start, it gets the resource limits and niceness of init (pid
// 1), the process every service started at boot descends from, and so what
// this system gives its services. Nothing of the caller's `ulimit` or `nice`
// reaches it. Only root can read init's limits and restore them; a manager
// that is not root starts its services with its own (it cannot raise them),
// and root without CAP_SYS_RESOURCE (as in most containers) cannot raise a
// hard limit, so a hard limit its caller lowered stays as low.
#pragma once

#include <sys/resource.h>

namespace quillon::advapi32 {

struct ProcessDefaults {
    bool haveLimits = false;
    rlimit limits[RLIMIT_NLIMITS] {};
    bool haveNiceness = false;
    int niceness = 0;
};

// Read in the manager before it forks.
ProcessDefaults systemProcessDefaults();

// In the new process, before it drops root: only system calls, no
// allocation. A limit that cannot be raised so far comes as close as it may.
void applyProcessDefaults(const ProcessDefaults& defaults) noexcept;

} // namespace quillon::advapi32
