package Quillon;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/** elapsedRealtime and sysHello. */
class VaultorSystemTest {
    private static final long MILLIS_1601_TO_1970 = 11644473600000L;

    @Test
    void elapsedRealtimeIsWallClockMillisecondsSince1601() throws Exception {
        long before = System.currentTimeMillis();
        long reading = Vaultor.elapsedRealtime();
        long after = System.currentTimeMillis();
        assertTrue(reading >= before + MILLIS_1601_TO_1970 - 1 && reading <= after + MILLIS_1601_TO_1970 + 1,
                reading + " not within " + before + ".." + after + " + offset");

        Thread.sleep(50);
        long later = Vaultor.elapsedRealtime();
        assertTrue(later - reading >= 50, "the clock advances");
    }

    /** Child JVM: calls sysHello and nothing else. */
    public static final class Child {
        public static void main(String[] args) {
            Vaultor.sysHello();
        }
    }

    @Test
    void sysHelloWritesExactlyThirteenBytesToStandardOutput() throws Exception {
        String java = System.getProperty("java.home") + File.separator + "bin" + File.separator + "java";
        Process child = new ProcessBuilder(java,
                "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", System.getProperty("java.class.path"),
                Child.class.getName())
                .redirectError(ProcessBuilder.Redirect.INHERIT)
                .start();
        try {
            byte[] out = child.getInputStream().readAllBytes();
            assertTrue(child.waitFor(120, TimeUnit.SECONDS), "child JVM ended");
            assertEquals(0, child.exitValue());
            assertArrayEquals("Hello world\r\n".getBytes(StandardCharsets.US_ASCII), out);
        } finally {
            child.destroyForcibly();
        }
    }
}
