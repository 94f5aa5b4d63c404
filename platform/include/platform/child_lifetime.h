// Ties a child process to the life of this process: when this process ends,
// however it ends, the child is ended too. Systems differ in where that has to
// happen: in the child between its creation and the start of the new program
// (Linux), or in the parent once the child exists (Windows). Callers invoke
// both hooks; each system acts in the one that fits it.
//
// The child and what it starts form one group (a process group of its own on
// Linux, the binding's job object on Windows) that can be ended at once.
#pragma once

#include <cstdint>

class QProcess;

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

    // Ends the child with this id, if it still runs, and every process of its
    // group. After the child has ended, ends what it left behind.
    void endChildTree(std::int64_t processId) noexcept;

private:
    std::intptr_t owner_;
};

// Keeps the console's stop signals (a terminal's Ctrl+C, console control
// events) from the processes this QProcess starts: they go to this program
// alone, which passes a stop on in its own way.
void keepConsoleSignalsFromChild(QProcess& process);

} // namespace quillon::platform
