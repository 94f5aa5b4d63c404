package Quillon;

/**
 * The native functions of the Vaultor library. Loading the class loads the
 * library of the running JVM's word size: Vaultor64 or the 32-bit Vaultor.
 * A refused input gives a null result. No method throws, with one exception:
 * a method that returns an array or a string throws the JVM's
 * {@link OutOfMemoryError} when the Java heap has no room for its result
 * (the library's own memory is released before the error reaches the
 * caller).
 */
public final class Vaultor {
    static {
        System.loadLibrary("64".equals(System.getProperty("sun.arch.data.model")) ? "Vaultor64" : "Vaultor");
    }

    private Vaultor() {
    }

    /** Seals data under a password: two salts, ciphertext, tag (data length + 72 bytes). */
    public static native byte[] encrypt(byte[] data, byte[] password);

    /** Opens sealed data; null when it is too short or does not authenticate. */
    public static native byte[] decrypt(byte[] data, byte[] password);

    /** Encrypts with the first built-in key; null for empty data or 1 to 16 bytes. */
    public static native byte[] encryptById(byte[] data);

    /** Decrypts with the first built-in key; null for empty data. */
    public static native byte[] decryptById(byte[] data);

    /** Encrypts with the second built-in key; null for empty data or 1 to 16 bytes. */
    public static native byte[] encryptById2(byte[] data);

    /** Decrypts with the second built-in key; null for empty data. */
    public static native byte[] decryptById2(byte[] data);

    /** A random key text: 768 to 1572 uppercase hexadecimal digits. */
    public static native String genkey();

    /** The machine identity text. */
    public static native String getit();

    /** Wall-clock milliseconds since 1601-01-01 00:00:00 UTC. */
    public static native long elapsedRealtime();

    /** Writes "Hello world\r\n" to standard output. */
    public static native void sysHello();
}
