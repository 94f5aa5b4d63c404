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

    /**
     * Seals data under a password. The result is 72 bytes longer than the data:
     * <ol>
     * <li>bytes 0 to 19: the encryption salt, fresh random bytes;</li>
     * <li>bytes 20 to 39: the authentication salt, fresh random bytes;</li>
     * <li>the ciphertext, as long as the data: AES-256 in counter mode (initial
     * counter block zero) under PBKDF2-HMAC-SHA-256(password, encryption salt,
     * 10000 iterations, 32 bytes);</li>
     * <li>the last 32 bytes: the tag, HMAC-SHA-256 of the ciphertext alone
     * under PBKDF2-HMAC-SHA-256(password, authentication salt, 10000
     * iterations, 32 bytes).</li>
     * </ol>
     * Null for a null argument, and for data longer than 2147483573 bytes,
     * whose result would be longer than the longest array the JVM allocates
     * (Integer.MAX_VALUE - 2 bytes); such data is refused before any work.
     *
     * <p>The password is used exactly as the bytes given, of any length and
     * value. Turn a String into bytes with an explicit charset,
     * {@code password.getBytes(StandardCharsets.UTF_8)}: {@code getBytes()}
     * without one uses the JVM's default charset, which differs between
     * machines and settings (LANG=C and C.UTF-8 give different bytes for
     * every character outside ASCII), and data sealed under the bytes of
     * one opens to null under those of the other.
     */
    public static native byte[] encrypt(byte[] data, byte[] password);

    /**
     * Opens data that {@link #encrypt} sealed, with the bytes of the same
     * password (see there). Null for a null argument, for input of 72 bytes or
     * fewer, and when the tag does not match.
     *
     * <p>What the tag authenticates: the ciphertext, under the password and
     * the authentication salt. A changed ciphertext or tag, a changed
     * authentication salt or another password give null; nothing is
     * decrypted then. The salts themselves are not covered by the tag, and the
     * encryption salt (the first 20 bytes) is not checked at all: input whose
     * encryption salt was changed opens without complaint to other bytes of
     * the same length, not to the data sealed. The format stays as it is
     * (stored seals and other readers of it rely on it); a caller that must
     * notice every change of sealed data keeps it where it cannot be changed,
     * or authenticates the whole sealed array itself.
     */
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
