#include "platform/child_lifetime.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace quillon::platform {

// The parent's id, recorded before the child is created, lets the child see
// whether its parent died before the death signal was armed.
ChildLifetimeBinding::ChildLifetimeBinding()
    : owner_(static_cast<std::intptr_t>(::getpid()))
{
}

ChildLifetimeBinding::~ChildLifetimeBinding() = default;

void ChildLifetimeBinding::bindInChild() const noexcept
{
    // The signal is kept across exec and follows the thread that forked us,
    // which is the parent's main thread.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0
        || ::getppid() != static_cast<pid_t>(owner_)) {
        ::_exit(127);
    }
}

bool ChildLifetimeBinding::bindStartedChild(std::int64_t) noexcept
{
    return true; // done in the child already
}

} // namespace quillon::platform
