// Crypto++'s key set-up leaves key bytes in the stack frames it has left
// (AES keeps part or all of the raw key there). An operation that sets up a
// key holds a DeadStackWipe from its start: when the operation ends, after
// every object of it is gone, the frames below its own are overwritten.
#pragma once

namespace quillon::crypto {

void wipeDeadStack() noexcept;

class DeadStackWipe {
public:
    DeadStackWipe() = default;
    DeadStackWipe(const DeadStackWipe&) = delete;
    DeadStackWipe& operator=(const DeadStackWipe&) = delete;
    ~DeadStackWipe() { wipeDeadStack(); }
};

} // namespace quillon::crypto
