// getit keeps nothing per call: a service may call it thousands of times a
// second for as long as it runs. This runs the shipped code path, answered by
// this machine.
#include "Quillon_Vaultor.h"
#include "fake_jni_env.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' allocators keep the heap; GCC ships no header for this.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace quillon::jni {
namespace {

// Bytes the program holds on the heap now.
std::size_t heapInUse()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 heap = mallinfo2();
    return heap.uordblks + heap.hblkhd; // chunks in use, and blocks mapped on their own
#endif
}

std::size_t identityLength()
{
    test::FakeJniEnv fake; // its strings go with it
    const jstring text = Java_Quillon_Vaultor_getit(fake.env(), nullptr);
    return text != nullptr ? fake.textOf(text).size() : 0;
}

TEST(Getit, RepeatedCallsDoNotGrowTheHeap)
{
    constexpr std::size_t kProbe = 1 << 20;
    const std::size_t beforeProbe = heapInUse();
    const auto probe = std::make_unique<char[]>(kProbe);
    *static_cast<volatile char*>(probe.get()) = 1;
    ASSERT_GE(heapInUse(), beforeProbe + kProbe) << "the heap figure follows allocations";

    for (int i = 0; i < 50; ++i) {
        ASSERT_GE(identityLength(), 68u); // first calls may set up what lasts
    }
    constexpr int kCalls = 2000;
    const std::size_t before = heapInUse();
    for (int i = 0; i < kCalls; ++i) {
        identityLength();
    }
    const std::size_t after = heapInUse();
    const std::size_t growth = after > before ? after - before : 0;
    EXPECT_LE(growth, kCalls * 16u) << "bytes kept per call: " << static_cast<double>(growth) / kCalls;
}

} // namespace
} // namespace quillon::jni
