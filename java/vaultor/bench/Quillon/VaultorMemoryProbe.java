package Quillon;

import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * Prints the native memory that one Vaultor.encrypt of a large array holds at
 * its peak (Linux only). Run with a pre-touched heap big enough for the data
 * and the result, so that the Java side adds nothing resident during the call:
 *   java -Xms3g -Xmx3g -XX:+AlwaysPreTouch -Djava.library.path=build/release/bin \
 *        -cp build/release/bin/vaultor.jar:build/release/devbin/vaultor-bench.jar \
 *        Quillon.VaultorMemoryProbe [MiB]
 * The peak resident set is reset just before the call (clear_refs 5), so its
 * growth over the call is what the library allocated natively.
 */
public final class VaultorMemoryProbe {
    private VaultorMemoryProbe() {
    }

    private static long statusKiB(String field) throws IOException {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"), StandardCharsets.US_ASCII)) {
            if (line.startsWith(field + ":")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        throw new IOException(field + " not in /proc/self/status");
    }

    private static void resetPeak() throws IOException {
        try (FileOutputStream out = new FileOutputStream("/proc/self/clear_refs")) {
            out.write('5');
        }
    }

    public static void main(String[] args) throws Exception {
        int mebibytes = args.length > 0 ? Integer.parseInt(args[0]) : 512;
        byte[] data = new byte[mebibytes << 20];
        for (int i = 0; i < data.length; i += 4096) {
            data[i] = (byte) i;
        }
        byte[] password = "probe password".getBytes(StandardCharsets.US_ASCII);
        // Load the library and let it settle before measuring.
        Vaultor.encrypt(new byte[16], password);

        resetPeak();
        long before = statusKiB("VmRSS");
        long start = System.nanoTime();
        byte[] sealed = Vaultor.encrypt(data, password);
        double seconds = (System.nanoTime() - start) / 1e9;
        long peak = statusKiB("VmHWM");
        long after = statusKiB("VmRSS");

        System.out.printf("encrypt of %d MiB: %s in %.2f s%n", mebibytes,
                sealed == null ? "null" : sealed.length + " bytes", seconds);
        System.out.printf("native peak over the call: %.1f MiB (%.2f x the input); left resident after: %.1f MiB%n",
                (peak - before) / 1024.0, (peak - before) / 1024.0 / mebibytes, (after - before) / 1024.0);
    }
}
