// Loading the Vaultor library leaves the host's signal handlers as they were.
// Crypto++ detects the processor's features while the library loads and
// guards its CPUID probe with a SIGILL handler of its own, saved and put back
// with signal(): that loses the flags and the mask of the handler the host
// had installed with sigaction (a JVM's, which -Xcheck:jni then reports as
// modified). So the handlers are saved before anything of the library is set
// up and put back, exactly, once all of it is; the detection is forced in
// between, so that nothing probes later.
#include <signal.h>

#include <cryptopp/cpu.h>


namespace {

// Plain data, zero from the start: no initialiser of its own that could run
// after the one that fills it.
struct SavedHandler {
    bool saved;
    struct sigaction action;
};

// Signals 1 .. NSIG-1; those the C library keeps for itself refuse sigaction
// and are left alone.
SavedHandler savedHandlers[NSIG];

bool sameMask(const sigset_t& a, const sigset_t& b)
{
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&a, signal) != sigismember(&b, signal)) {
            return false;
        }
    }
    return true;
}

bool sameHandler(const struct sigaction& a, const struct sigaction& b)
{
    const bool withInfo = (a.sa_flags & SA_SIGINFO) != 0;
    const bool sameFunction = withInfo ? a.sa_sigaction == b.sa_sigaction : a.sa_handler == b.sa_handler;
    return sameFunction && a.sa_flags == b.sa_flags && sameMask(a.sa_mask, b.sa_mask);
}

// Before every other initialiser of the library: 101 is the first priority
// open to programs, and Crypto++ sets itself up at 250 and later.
__attribute__((constructor(101))) void saveHostSignalHandlers()
{
    for (int signal = 1; signal < NSIG; ++signal) {
        SavedHandler& slot = savedHandlers[signal];
        slot.saved = ::sigaction(signal, nullptr, &slot.action) == 0;
    }
}

// After the initialisers with a priority (Crypto++'s among them). Only the
// handlers the load changed are put back.
__attribute__((constructor)) void restoreHostSignalHandlers()
{
    static_cast<void>(CryptoPP::GetCacheLineSize()); // runs the detection now if it has not run
    for (int signal = 1; signal < NSIG; ++signal) {
        const SavedHandler& slot = savedHandlers[signal];
        struct sigaction now {};
        if (slot.saved && ::sigaction(signal, nullptr, &now) == 0 && !sameHandler(now, slot.action)) {
            ::sigaction(signal, &slot.action, nullptr);
        }
    }
}

} // namespace
