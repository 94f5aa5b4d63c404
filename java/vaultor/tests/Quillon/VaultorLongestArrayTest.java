package Quillon;

import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assumptions.abort;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.lang.management.ManagementFactory;
import org.junit.jupiter.api.Test;

/**
 * encrypt at the longest array the JVM allocates (Integer.MAX_VALUE - 2
 * bytes): data one byte past what fits a sealed result is refused with null,
 * at once, instead of working through it and failing to allocate the result.
 * Runs in a JVM of its own with a heap that holds the data; skipped, with the
 * reason, where the machine has not the memory for it.
 */
class VaultorLongestArrayTest {
    private static final int LONGEST_ARRAY = Integer.MAX_VALUE - 2;
    private static final int SEAL_OVERHEAD = 72;

    @Test
    void encryptRefusesDataWhoseSealedFormWouldBeLongerThanAnyArray() {
        int length = LONGEST_ARRAY - SEAL_OVERHEAD + 1; // 2147483574
        long needed = length + (256L << 20);
        Runtime runtime = Runtime.getRuntime();
        assumeTrue(runtime.maxMemory() >= needed,
                "the Java heap is " + (runtime.maxMemory() >> 20) + " MiB; the data needs " + (needed >> 20) + " MiB");
        long free = ((com.sun.management.OperatingSystemMXBean) ManagementFactory.getOperatingSystemMXBean())
                .getFreeMemorySize();
        assumeTrue(free >= needed,
                "the machine has " + (free >> 20) + " MiB of free memory; the data needs " + (needed >> 20) + " MiB");
        byte[] data;
        try {
            data = new byte[length];
        } catch (OutOfMemoryError error) {
            data = abort("no room for " + length + " bytes: " + error.getMessage());
        }
        assertNull(Vaultor.encrypt(data, new byte[] {'p', 'w'}));
    }
}
