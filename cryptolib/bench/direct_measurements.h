// Rates of the library's operations called directly in C++, without JNI.
#pragma once

#include <chrono>
#include <cstddef>

namespace quillon::bench {

// Runs the operation repeatedly for about `seconds` (at least three times)
// and returns the calls per second.
template <typename Operation>
double callsPerSecond(double seconds, Operation&& operation)
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

double sealsPerSecond(std::size_t size, double seconds);
double opensPerSecond(std::size_t size, double seconds);
double pbkdf2PerSecond(double seconds);
// Built-in key, first text: megabytes (10^6 bytes) of data per second.
double encryptByIdMegabytesPerSecond(std::size_t size, double seconds);
double decryptByIdMegabytesPerSecond(std::size_t size, double seconds);
double genkeyPerSecond(double seconds);

} // namespace quillon::bench
