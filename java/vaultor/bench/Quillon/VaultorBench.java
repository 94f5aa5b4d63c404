package Quillon;

import java.nio.charset.StandardCharsets;
import java.util.concurrent.Callable;
import javax.crypto.SecretKeyFactory;
import javax.crypto.spec.PBEKeySpec;

/**
 * Prints the Vaultor library's speed: the C++ operations called directly,
 * the same through the JNI entry points from Java, and a pure-Java (JCE)
 * implementation of the sealed format. Argument: seconds per figure (1.0).
 */
public final class VaultorBench {
    private static final byte[] PASSWORD = "benchmark password".getBytes(StandardCharsets.UTF_8);
    private static final int[] SEAL_SIZES = {0, 1024, 1 << 20};
    private static final int[] BY_ID_SIZES = {32, 1024, 1 << 20};

    private static double seconds = 1.0;
    private static volatile Object sink;

    private VaultorBench() {
    }

    private static double rate(Callable<Object> call) throws Exception {
        long warmUntil = System.nanoTime() + (long) (seconds * 0.3e9);
        while (System.nanoTime() < warmUntil) {
            sink = call.call();
        }
        long start = System.nanoTime();
        long calls = 0;
        double elapsed;
        do {
            sink = call.call();
            calls++;
            elapsed = (System.nanoTime() - start) / 1e9;
        } while (calls < 3 || elapsed < seconds);
        return calls / elapsed;
    }

    private static byte[] data(int size) {
        byte[] out = new byte[size];
        for (int i = 0; i < size; i++) {
            out[i] = (byte) (i * 7);
        }
        return out;
    }

    private static String label(int size) {
        return size >= 1 << 20 ? (size >> 20) + " MiB" : size >= 1024 ? (size >> 10) + " KiB" : size + " B";
    }

    private static void row(String what, double cpp, double jni, double jce) {
        System.out.printf("%-26s %12.1f %12.1f %12s%n", what, cpp, jni, Double.isNaN(jce) ? "-" : String.format("%.1f", jce));
    }

    public static void main(String[] args) throws Exception {
        if (args.length > 0) {
            seconds = Double.parseDouble(args[0]);
        }
        System.out.printf("Vaultor benchmark, %.1f s per figure, %d processors, Java %s%n%n", seconds,
                Runtime.getRuntime().availableProcessors(), System.getProperty("java.version"));

        // Let the JIT compile the Java paths before anything is timed.
        byte[] warmData = data(1024);
        long warmEnd = System.nanoTime() + 3_000_000_000L;
        while (System.nanoTime() < warmEnd) {
            sink = JceSealedFormat.open(JceSealedFormat.seal(warmData, PASSWORD), PASSWORD);
            sink = Vaultor.decrypt(Vaultor.encrypt(warmData, PASSWORD), PASSWORD);
        }

        System.out.printf("%-26s %12s %12s %12s%n", "password sealing (calls/s)", "C++", "JNI", "JCE");
        for (int size : SEAL_SIZES) {
            byte[] plain = data(size);
            row("seal " + label(size), VaultorBenchNative.sealsPerSecond(size, seconds),
                    rate(() -> Vaultor.encrypt(plain, PASSWORD)),
                    rate(() -> JceSealedFormat.seal(plain, PASSWORD)));
            byte[] sealed = Vaultor.encrypt(plain, PASSWORD);
            row("open " + label(size) + (size == 0 ? " (refused at once)" : ""), VaultorBenchNative.opensPerSecond(size, seconds),
                    rate(() -> Vaultor.decrypt(sealed, PASSWORD)),
                    rate(() -> JceSealedFormat.open(sealed, PASSWORD)));
        }

        System.out.printf("%n%-26s %12s %12s %12s%n", "PBKDF2-HMAC-SHA256, 10000", "Crypto++", "JCE raw", "JCE factory");
        byte[] salt = new byte[20];
        SecretKeyFactory factory = SecretKeyFactory.getInstance("PBKDF2WithHmacSHA256");
        char[] passwordChars = new String(PASSWORD, StandardCharsets.UTF_8).toCharArray();
        System.out.printf("%-26s %12.1f %12.1f %12.1f%n", "derivations/s", VaultorBenchNative.pbkdf2PerSecond(seconds),
                rate(() -> JceSealedFormat.pbkdf2(PASSWORD, salt, JceSealedFormat.ITERATIONS, 32)),
                rate(() -> factory.generateSecret(new PBEKeySpec(passwordChars, salt, JceSealedFormat.ITERATIONS, 256))));

        System.out.printf("%n%-26s %12s %12s %12s%n", "built-in key (MB/s)", "C++", "JNI", "");
        for (int size : BY_ID_SIZES) {
            byte[] plain = data(size);
            double megabytes = size / 1e6;
            row("encryptById " + label(size), VaultorBenchNative.encryptByIdMegabytesPerSecond(size, seconds),
                    rate(() -> Vaultor.encryptById(plain)) * megabytes, Double.NaN);
            byte[] ciphertext = Vaultor.encryptById(plain);
            row("decryptById " + label(size), VaultorBenchNative.decryptByIdMegabytesPerSecond(size, seconds),
                    rate(() -> Vaultor.decryptById(ciphertext)) * megabytes, Double.NaN);
        }

        System.out.printf("%n%-26s %12s %12s %12s%n", "key texts (calls/s)", "C++", "JNI", "");
        row("genkey", VaultorBenchNative.genkeyPerSecond(seconds), rate(Vaultor::genkey), Double.NaN);

        System.out.printf("%n%-26s %12s %12s %12s%n", "machine identity (calls/s)", "C++", "JNI", "");
        row("getit", VaultorBenchNative.getitPerSecond(seconds), rate(Vaultor::getit), Double.NaN);
    }
}
