// Qt's mutex and semaphore wait on futexes inside an uninstrumented Qt, so
// ThreadSanitizer cannot see the ordering they give. These hooks tell it,
// and compile to nothing in every other build.
#pragma once

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define QUILLON_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#include <sanitizer/tsan_interface.h>
#define QUILLON_TSAN 1
#endif
#endif

namespace threadsync {

// After taking a lock or a semaphore: everything the releasing side did
// before happens before what follows here.
inline void acquired([[maybe_unused]] const void* object)
{
#ifdef QUILLON_TSAN
    __tsan_acquire(const_cast<void*>(object));
#endif
}

// Before letting a lock or a semaphore go.
inline void releasing([[maybe_unused]] const void* object)
{
#ifdef QUILLON_TSAN
    __tsan_release(const_cast<void*>(object));
#endif
}

} // namespace threadsync

#include <QDeadlineTimer>
#include <QMutex>
#include <QSemaphore>
#include <QWaitCondition>

// Holds a QMutex for a scope and tells ThreadSanitizer about it.
class SyncedLocker
{
public:
    explicit SyncedLocker(QMutex& toLock)
        : mutex(toLock)
    {
        mutex.lock();
        threadsync::acquired(&mutex);
    }
    ~SyncedLocker() { unlock(); }

    SyncedLocker(const SyncedLocker&) = delete;
    SyncedLocker& operator=(const SyncedLocker&) = delete;

    void unlock()
    {
        if (locked) {
            locked = false;
            threadsync::releasing(&mutex);
            mutex.unlock();
        }
    }

    // Waits on the condition, which lets the mutex go meanwhile; false when
    // the deadline passed first.
    bool wait(QWaitCondition& condition, QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever))
    {
        threadsync::releasing(&mutex);
        const bool woken = condition.wait(&mutex, deadline);
        threadsync::acquired(&mutex);
        return woken;
    }

private:
    QMutex& mutex;
    bool locked = true;
};

inline void releaseSynced(QSemaphore& semaphore)
{
    threadsync::releasing(&semaphore);
    semaphore.release();
}

inline void acquireSynced(QSemaphore& semaphore)
{
    semaphore.acquire();
    threadsync::acquired(&semaphore);
}

inline bool tryAcquireSynced(QSemaphore& semaphore, int timeoutMs)
{
    if (!semaphore.tryAcquire(1, timeoutMs))
        return false;
    threadsync::acquired(&semaphore);
    return true;
}
