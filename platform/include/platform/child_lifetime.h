// Ties a child process to the life of this process: when this process ends,
// however it ends, the child is ended too. Systems differ in where that has to
// happen: in the child between its creation and the start of the new program
// (Linux), or in the parent once the child exists (Windows). Callers invoke
// both hooks; each system acts in the one that fits it.
#pragma once

#include <cstdint>

namespace quillon::platform {

class ChildLifetimeBinding
{
public:
    ChildLifetimeBinding();
    ~ChildLifetimeBinding();

    ChildLifetimeBinding(const ChildLifetimeBinding&) = delete;
    ChildLifetimeBinding& operator=(const ChildLifetimeBinding&) = delete;

    // Runs in the new child before it starts its program. Only async-signal-safe
    // calls are made here; a child whose parent has already gone ends at once.
    void bindInChild() const noexcept;

    // Runs in this process once the child with this id has started. Returns
    // false when the child could not be bound.
    bool bindStartedChild(std::int64_t processId) noexcept;

private:
    std::intptr_t owner_;
};

} // namespace quillon::platform
