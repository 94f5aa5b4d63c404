package Quillon;

/** The library operations timed directly in C++ (libVaultorBench), for comparison. */
final class VaultorBenchNative {
    static {
        System.loadLibrary("VaultorBench");
    }

    private VaultorBenchNative() {
    }

    static native double sealsPerSecond(int size, double seconds);

    static native double opensPerSecond(int size, double seconds);

    static native double pbkdf2PerSecond(double seconds);

    static native double encryptByIdMegabytesPerSecond(int size, double seconds);

    static native double decryptByIdMegabytesPerSecond(int size, double seconds);

    static native double genkeyPerSecond(double seconds);

    static native double getitPerSecond(double seconds);
}
