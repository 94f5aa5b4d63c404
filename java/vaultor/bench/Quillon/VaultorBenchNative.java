package Quillon;

/** The library operations timed directly in C++ (libVaultorBench), for comparison. */
final class VaultorBenchNative {
    static {
        System.loadLibrary("VaultorBench");
    }

    /** Derivations, in the order of the native Derivation enumeration. */
    static final int CRYPTOPP = 0;
    static final int OURS = 1;
    static final int OPENSSL = 2;

    /** Ways to run the two derivations of a seal, as the native PairStrategy. */
    static final int ONE_AFTER_THE_OTHER = 0;
    static final int INTERLEAVED = 1;
    static final int TWO_THREADS = 2;

    private VaultorBenchNative() {
    }

    static native double sealsPerSecond(int size, int callers, double seconds);

    static native double opensPerSecond(int size, boolean refused, int callers, double seconds);

    static native double compressionNanoseconds(double seconds);

    static native double compressionThreadNanoseconds(double seconds);

    static native double derivationsPerSecond(int how, int callers, double seconds);

    static native double derivationThreadMilliseconds(int how, double seconds);

    static native double derivationPairThreadMilliseconds(int how, double seconds);

    static native double derivationPairsPerSecond(int how, int callers, double seconds);

    static native double encryptByIdMegabytesPerSecond(int size, double seconds);

    static native double decryptByIdMegabytesPerSecond(int size, double seconds);

    static native double genkeyPerSecond(double seconds);

    static native double getitPerSecond(double seconds);
}
