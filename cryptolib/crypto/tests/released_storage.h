// Reading what secrets leave behind, for the wiping tests: heap blocks as
// they are released, and a thread's stack after the thread has ended.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string_view>

namespace quillon::crypto::test {

// While a watch is open, every block released through operator delete is
// searched for the watched byte strings (at most four, of at most 64 bytes)
// before it goes back to the heap. The watch keeps its own copies outside the
// heap. (The test program's operator new and delete are replaced for this.)
class ReleaseWatch {
public:
    ReleaseWatch(std::initializer_list<std::string_view> secrets);
    ReleaseWatch(const ReleaseWatch&) = delete;
    ReleaseWatch& operator=(const ReleaseWatch&) = delete;
    ~ReleaseWatch();

    // How many released blocks still held secret i.
    std::size_t blocksHolding(std::size_t i) const;
    std::size_t releasedBlocks() const;
};

// A thread whose stack is a buffer of ours, so that what its work left on the
// stack can be read once it has ended.
class OwnStackThread {
public:
    explicit OwnStackThread(std::size_t stackBytes = 1 << 20);
    OwnStackThread(const OwnStackThread&) = delete;
    OwnStackThread& operator=(const OwnStackThread&) = delete;
    ~OwnStackThread();

    // Runs the work on the thread and waits for the thread to end.
    void run(const std::function<void()>& work);
    bool stackHolds(std::string_view bytes) const;

private:
    void* stack_;
    std::size_t size_;
};

} // namespace quillon::crypto::test
