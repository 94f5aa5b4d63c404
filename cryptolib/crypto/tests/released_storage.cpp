#include "released_storage.h"

#include <malloc.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace quillon::crypto::test {

namespace {

constexpr std::size_t kMostSecrets = 4;
constexpr std::size_t kLongestSecret = 64;

// Fixed storage: neither the watch nor operator delete may allocate.
struct Watched {
    std::atomic<bool> open{false};
    char secrets[kMostSecrets][kLongestSecret] = {};
    std::size_t lengths[kMostSecrets] = {};
    std::size_t count = 0;
    std::atomic<std::size_t> holding[kMostSecrets] = {};
    std::atomic<std::size_t> released{0};
} watched;

#if defined(__SANITIZE_ADDRESS__)
#define QUILLON_NO_ASAN __attribute__((no_sanitize_address))
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLON_NO_ASAN __attribute__((no_sanitize_address))
#endif
#endif
#ifndef QUILLON_NO_ASAN
#define QUILLON_NO_ASAN
#endif

// Plain byte search that the sanitizer does not check: a dead stack may still
// carry poisoned red zones.
QUILLON_NO_ASAN bool holds(const unsigned char* memory, std::size_t size, std::string_view bytes)
{
    if (bytes.empty() || bytes.size() > size) {
        return false;
    }
    const auto* first = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t at = 0; at + bytes.size() <= size; ++at) {
        std::size_t i = 0;
        while (i < bytes.size() && memory[at + i] == first[i]) {
            ++i;
        }
        if (i == bytes.size()) {
            return true;
        }
    }
    return false;
}

void inspectBeforeRelease(void* block)
{
    if (block == nullptr || !watched.open.load()) {
        return;
    }
    watched.released++;
    const std::size_t size = malloc_usable_size(block);
    for (std::size_t i = 0; i < watched.count; ++i) {
        if (holds(static_cast<const unsigned char*>(block), size, std::string_view(watched.secrets[i], watched.lengths[i]))) {
            watched.holding[i]++;
        }
    }
}

} // namespace

ReleaseWatch::ReleaseWatch(std::initializer_list<std::string_view> secrets)
{
    if (secrets.size() > kMostSecrets || watched.open.load()) {
        throw std::logic_error("one watch at a time, of at most four secrets");
    }
    watched.count = 0;
    for (const auto secret : secrets) {
        if (secret.size() > kLongestSecret) {
            throw std::logic_error("a watched secret has at most 64 bytes");
        }
        std::copy(secret.begin(), secret.end(), watched.secrets[watched.count]);
        watched.lengths[watched.count] = secret.size();
        watched.holding[watched.count] = 0;
        ++watched.count;
    }
    watched.released = 0;
    watched.open = true;
}

ReleaseWatch::~ReleaseWatch()
{
    watched.open = false;
}

std::size_t ReleaseWatch::blocksHolding(std::size_t i) const
{
    return watched.holding[i].load();
}

std::size_t ReleaseWatch::releasedBlocks() const
{
    return watched.released.load();
}

OwnStackThread::OwnStackThread(std::size_t stackBytes) : stack_(std::aligned_alloc(4096, stackBytes)), size_(stackBytes)
{
    if (stack_ == nullptr) {
        throw std::bad_alloc();
    }
    std::memset(stack_, 0, size_);
}

OwnStackThread::~OwnStackThread()
{
    std::free(stack_);
}

void OwnStackThread::run(const std::function<void()>& work)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, stack_, size_);
    pthread_t thread;
    const auto body = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    const int failed = pthread_create(&thread, &attributes, body, const_cast<std::function<void()>*>(&work));
    pthread_attr_destroy(&attributes);
    if (failed != 0) {
        throw std::runtime_error("pthread_create failed");
    }
    pthread_join(thread, nullptr);
}

bool OwnStackThread::stackHolds(std::string_view bytes) const
{
    return holds(static_cast<const unsigned char*>(stack_), size_, bytes);
}

} // namespace quillon::crypto::test

// The test program's allocation functions: malloc and free, with a look at
// each block as it is released. A block's slack past the requested size is
// cleared when it is handed out: the release search reads the whole usable
// size, and what an earlier user left there would otherwise match a short
// secret by chance.
void* operator new(std::size_t size)
{
    const std::size_t requested = size == 0 ? 1 : size;
    if (void* block = std::malloc(requested)) {
        std::memset(static_cast<unsigned char*>(block) + requested, 0, malloc_usable_size(block) - requested);
        return block;
    }
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    quillon::crypto::test::inspectBeforeRelease(block);
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    quillon::crypto::test::inspectBeforeRelease(block);
    std::free(block);
}
