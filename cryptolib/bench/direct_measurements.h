// Rates of the library's operations called directly in C++, without JNI, by
// one caller or by several at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <ctime>
#include <thread>
#include <vector>

namespace quillon::bench {

// Runs the operation repeatedly for about `seconds` (at least three times)
// and returns the calls per second.
template <typename Operation>
double callsPerSecondOver(double seconds, Operation& operation)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    long calls = 0;
    double elapsed = 0;
    do {
        operation();
        ++calls;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (calls < 3 || elapsed < seconds);
    return static_cast<double>(calls) / elapsed;
}

// The best rate of five windows that take about `seconds` together: on a
// machine that others share, the quiet moments are the figure.
constexpr int kWindows = 5;

template <typename Operation>
double callsPerSecond(double seconds, Operation&& operation)
{
    double best = 0;
    for (int window = 0; window < kWindows; ++window) {
        const double rate = callsPerSecondOver(seconds / kWindows, operation);
        best = rate > best ? rate : best;
    }
    return best;
}

// The same with `callers` threads calling at once: their calls per second
// added up.
template <typename Operation>
double callsPerSecond(double seconds, int callers, Operation&& operation)
{
    if (callers <= 1) {
        return callsPerSecond(seconds, operation);
    }
    std::vector<double> rates(static_cast<std::size_t>(callers));
    std::vector<std::thread> threads;
    for (auto& rate : rates) {
        threads.emplace_back([&rate, &operation, seconds] { rate = callsPerSecond(seconds, operation); });
    }
    double total = 0;
    for (std::size_t i = 0; i < threads.size(); ++i) {
        threads[i].join();
        total += rates[i];
    }
    return total;
}

// The calling thread's processor time per call, in seconds: the best of five
// windows. Unlike the rates it does not count time the thread waited for a
// processor, so it stays close to the quiet figure on a loaded machine.
template <typename Operation>
double threadSecondsPerCall(double seconds, Operation&& operation)
{
    const auto threadClock = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    };
    double best = 0;
    for (int window = 0; window < kWindows; ++window) {
        const double start = threadClock();
        long calls = 0;
        double used = 0;
        do {
            operation();
            ++calls;
            used = threadClock() - start;
        } while (calls < 3 || used < seconds / kWindows);
        const double perCall = used / static_cast<double>(calls);
        best = best == 0 || perCall < best ? perCall : best;
    }
    return best;
}

double sealsPerSecond(std::size_t size, int callers, double seconds);
// A refused open is one with a wrong password: both keys, the tag, no plaintext.
double opensPerSecond(std::size_t size, bool refused, int callers, double seconds);
// Built-in key, first text: megabytes (10^6 bytes) of data per second.
double encryptByIdMegabytesPerSecond(std::size_t size, double seconds);
double decryptByIdMegabytesPerSecond(std::size_t size, double seconds);
double genkeyPerSecond(double seconds);

// One SHA-256 compression through Crypto++'s transform when each depends on
// the one before, as in PBKDF2: nanoseconds.
double dependentCompressionNanoseconds(double seconds);
// The same in processor time of the thread.
double dependentCompressionThreadNanoseconds(double seconds);

enum class Derivation { Cryptopp, Ours, OpenSsl };
// One PBKDF2-HMAC-SHA-256 derivation of the library's shape (20-byte salt,
// 10000 iterations, 32 bytes).
double derivationsPerSecond(Derivation how, int callers, double seconds);
// Processor time of one derivation, milliseconds.
double derivationThreadMilliseconds(Derivation how, double seconds);

enum class PairStrategy { OneAfterTheOther, Interleaved, TwoThreads };
// The two derivations of one seal (one password, two salts), ours.
double derivationPairsPerSecond(PairStrategy how, int callers, double seconds);
// Processor time of one pair, milliseconds; for the strategies that run in
// the calling thread only.
double derivationPairThreadMilliseconds(PairStrategy how, double seconds);

} // namespace quillon::bench
