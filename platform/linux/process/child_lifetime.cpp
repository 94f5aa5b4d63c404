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
    // which is the parent's main thread. A process group of its own keeps
    // the terminal's Ctrl+C (sent to the foreground group) from the child
    // and lets everything the child starts be ended with it.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0
        || ::getppid() != static_cast<pid_t>(owner_) || ::setpgid(0, 0) != 0) {
        ::_exit(127);
    }
}

bool ChildLifetimeBinding::bindStartedChild(std::int64_t) noexcept
{
    return true; // done in the child already
}

void ChildLifetimeBinding::endChildTree(std::int64_t processId) noexcept
{
    // The group's id is the child's; while any member lives, the kernel
    // gives that number to no other process.
    if (processId > 0)
        ::kill(-static_cast<pid_t>(processId), SIGKILL);
}

void keepConsoleSignalsFromChild(QProcess&)
{
    // bindInChild puts the child into a process group of its own.
}

} // namespace quillon::platform
