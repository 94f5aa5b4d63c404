package Quillon;

import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import javax.crypto.SecretKeyFactory;
import javax.crypto.spec.PBEKeySpec;

/**
 * Prints the Vaultor library's speed: the SHA-256 compression floor, the key
 * derivations against it, the C++ operations called directly, the same
 * through the JNI entry points from Java, and a pure-Java (JCE)
 * implementation of the sealed format; by one caller and by two at once.
 * Argument: seconds per figure (1.0).
 */
public final class VaultorBench {
    private static final byte[] PASSWORD = "benchmark password".getBytes(StandardCharsets.UTF_8);
    private static final byte[] WRONG_PASSWORD = "benchmark password?".getBytes(StandardCharsets.UTF_8);
    private static final int[] SEAL_SIZES = {0, 1024, 1 << 20};
    private static final int[] BY_ID_SIZES = {32, 1024, 1 << 20};
    private static final int ITERATIONS = JceSealedFormat.ITERATIONS;

    private static double seconds = 1.0;
    private static volatile Object sink;

    private VaultorBench() {
    }

    private static final int WINDOWS = 5;

    /** The best calls per second of five windows that take about `seconds` together (as the C++ side). */
    private static double rateOfOne(Callable<Object> call) throws Exception {
        long warmUntil = System.nanoTime() + (long) (seconds * 0.3e9);
        while (System.nanoTime() < warmUntil) {
            sink = call.call();
        }
        double best = 0;
        for (int window = 0; window < WINDOWS; window++) {
            long start = System.nanoTime();
            long calls = 0;
            double elapsed;
            do {
                sink = call.call();
                calls++;
                elapsed = (System.nanoTime() - start) / 1e9;
            } while (calls < 3 || elapsed < seconds / WINDOWS);
            best = Math.max(best, calls / elapsed);
        }
        return best;
    }

    /** Calls per second of `callers` Java threads calling at once, added up. */
    private static double rate(int callers, Callable<Object> call) throws Exception {
        if (callers == 1) {
            return rateOfOne(call);
        }
        ExecutorService pool = Executors.newFixedThreadPool(callers);
        try {
            List<Future<Double>> rates = new ArrayList<>();
            for (int c = 0; c < callers; c++) {
                rates.add(pool.submit(() -> rateOfOne(call)));
            }
            double total = 0;
            for (Future<Double> r : rates) {
                total += r.get();
            }
            return total;
        } finally {
            pool.shutdownNow();
        }
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

    private static double loadAverage() {
        return ManagementFactory.getOperatingSystemMXBean().getSystemLoadAverage();
    }

    private static void derivationRow(String what, double perSecond, double floorMs, String more) {
        double ms = 1e3 / perSecond;
        System.out.printf("  %-34s %10.1f %9.3f %8.2fx%s%n", what, perSecond, ms, ms / floorMs, more);
    }

    /** C++, JNI and JCE calls/s; JNI/C++ is the time JNI adds, ours/JCE how much faster the library is. */
    private static void sealRow(String what, double cpp, double jni, double jce) {
        System.out.printf("  %-34s %10.1f %10.1f %10.1f %8.2fx %8.2fx%n", what, cpp, jni, jce, cpp / jni, jni / jce);
    }

    private static void builtInRow(String what, double cpp, double jni) {
        System.out.printf("  %-34s %10.1f %10.1f %8.2fx%n", what, cpp, jni, cpp / jni);
    }

    public static void main(String[] args) throws Exception {
        if (args.length > 0) {
            seconds = Double.parseDouble(args[0]);
        }
        System.out.printf("Vaultor benchmark, %.1f s per figure (best of %d windows), %d processors, Java %s, "
                + "load average %.2f%n%n", seconds, WINDOWS, Runtime.getRuntime().availableProcessors(), System.getProperty("java.version"),
                loadAverage());

        // Let the JIT compile the Java paths before anything is timed.
        byte[] warmData = data(1024);
        long warmEnd = System.nanoTime() + 3_000_000_000L;
        while (System.nanoTime() < warmEnd) {
            sink = JceSealedFormat.open(JceSealedFormat.seal(warmData, PASSWORD), PASSWORD);
            sink = Vaultor.decrypt(Vaultor.encrypt(warmData, PASSWORD), PASSWORD);
        }

        double compressionNs = VaultorBenchNative.compressionNanoseconds(seconds);
        double compressionCpuNs = VaultorBenchNative.compressionThreadNanoseconds(seconds);
        double floorMs = compressionNs * 2 * ITERATIONS / 1e6;
        double cpuFloorMs = compressionCpuNs * 2 * ITERATIONS / 1e6;
        System.out.printf("SHA-256 compression (Crypto++ transform, each depending on the one before): %.1f ns wall,"
                + " %.1f ns thread time%n", compressionNs, compressionCpuNs);
        System.out.printf("floor of one derivation (%d compressions): %.3f ms = %.1f/s wall; %.3f ms thread time%n%n",
                2 * ITERATIONS, floorMs, 1e3 / floorMs, cpuFloorMs);

        System.out.printf("%-36s %10s %9s %9s %11s %9s%n", "one derivation, 10000 iterations", "per s", "ms",
                "x floor", "thread ms", "x floor");
        byte[] salt = new byte[20];
        SecretKeyFactory factory = SecretKeyFactory.getInstance("PBKDF2WithHmacSHA256");
        char[] passwordChars = new String(PASSWORD, StandardCharsets.UTF_8).toCharArray();
        String[] derivations = {"Crypto++ PKCS5_PBKDF2_HMAC", "ours", "OpenSSL PKCS5_PBKDF2_HMAC"};
        for (int how = 0; how < derivations.length; how++) {
            double cpuMs = VaultorBenchNative.derivationThreadMilliseconds(how, seconds);
            derivationRow(derivations[how], VaultorBenchNative.derivationsPerSecond(how, 1, seconds), floorMs,
                    String.format(" %11.3f %8.2fx", cpuMs, cpuMs / cpuFloorMs));
        }
        derivationRow("JCE (HmacSHA256 loop)",
                rate(1, () -> JceSealedFormat.pbkdf2(PASSWORD, salt, ITERATIONS, 32)), floorMs, "");
        derivationRow("JCE (PBKDF2WithHmacSHA256 factory)",
                rate(1, () -> factory.generateSecret(new PBEKeySpec(passwordChars, salt, ITERATIONS, 256))), floorMs,
                "");
        derivationRow("ours, 2 callers (per s in all)",
                VaultorBenchNative.derivationsPerSecond(VaultorBenchNative.OURS, 2, seconds), floorMs, "");

        System.out.printf("%n%-36s %10s %9s %9s %11s %9s %12s%n", "the two derivations of a seal, ours", "pairs/s",
                "ms", "x floor", "thread ms", "x floor", "2 callers/s");
        String[] strategies = {"one after the other", "interleaved in one thread", "two threads"};
        for (int how = 0; how < strategies.length; how++) {
            double one = VaultorBenchNative.derivationPairsPerSecond(how, 1, seconds);
            double two = VaultorBenchNative.derivationPairsPerSecond(how, 2, seconds);
            String cpu = String.format(" %11s %9s", "-", "-");
            if (how != VaultorBenchNative.TWO_THREADS) {
                double cpuMs = VaultorBenchNative.derivationPairThreadMilliseconds(how, seconds);
                cpu = String.format(" %11.3f %8.2fx", cpuMs, cpuMs / cpuFloorMs);
            }
            System.out.printf("  %-34s %10.1f %9.3f %8.2fx%s %12.1f%n", strategies[how], one, 1e3 / one,
                    1e3 / one / floorMs, cpu, two);
        }
        System.out.println("  (x floor: against the floor of one derivation; thread ms: processor time of the calling"
                + " thread)");

        for (int callers = 1; callers <= 2; callers++) {
            final int n = callers;
            System.out.printf("%n%-36s %10s %10s %10s %9s %9s%n",
                    callers == 1 ? "password sealing, 1 caller (calls/s)" : "2 callers at once (calls/s in all)",
                    "C++", "JNI", "JCE", "JNI/C++", "ours/JCE");
            for (int size : SEAL_SIZES) {
                byte[] plain = data(size);
                sealRow("seal " + label(size), VaultorBenchNative.sealsPerSecond(size, n, seconds),
                        rate(n, () -> Vaultor.encrypt(plain, PASSWORD)),
                        rate(n, () -> JceSealedFormat.seal(plain, PASSWORD)));
                byte[] sealed = Vaultor.encrypt(plain, PASSWORD);
                sealRow("open " + label(size) + (size == 0 ? " (refused at once)" : ""),
                        VaultorBenchNative.opensPerSecond(size, false, n, seconds),
                        rate(n, () -> Vaultor.decrypt(sealed, PASSWORD)),
                        rate(n, () -> JceSealedFormat.open(sealed, PASSWORD)));
                if (size == 1024) {
                    sealRow("open 1 KiB, wrong password", VaultorBenchNative.opensPerSecond(size, true, n, seconds),
                            rate(n, () -> Vaultor.decrypt(sealed, WRONG_PASSWORD)),
                            rate(n, () -> JceSealedFormat.open(sealed, WRONG_PASSWORD)));
                }
            }
        }
        System.out.println("  (JNI/C++: time through JNI over time in C++; ours/JCE: JNI calls/s over JCE calls/s)");

        System.out.printf("%n%-36s %10s %10s %9s%n", "built-in key (MB/s), 1 caller", "C++", "JNI", "JNI/C++");
        for (int size : BY_ID_SIZES) {
            byte[] plain = data(size);
            double megabytes = size / 1e6;
            builtInRow("encryptById " + label(size), VaultorBenchNative.encryptByIdMegabytesPerSecond(size, seconds),
                    rate(1, () -> Vaultor.encryptById(plain)) * megabytes);
            byte[] ciphertext = Vaultor.encryptById(plain);
            builtInRow("decryptById " + label(size), VaultorBenchNative.decryptByIdMegabytesPerSecond(size, seconds),
                    rate(1, () -> Vaultor.decryptById(ciphertext)) * megabytes);
        }

        System.out.printf("%n%-36s %10s %10s %9s%n", "key texts and identity (calls/s)", "C++", "JNI", "JNI/C++");
        builtInRow("genkey", VaultorBenchNative.genkeyPerSecond(seconds), rate(1, Vaultor::genkey));
        builtInRow("getit", VaultorBenchNative.getitPerSecond(seconds), rate(1, Vaultor::getit));
        System.out.printf("%nload average at the end %.2f%n", loadAverage());
    }
}
