package Quillon;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
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

    /** Child JVM: calls sysHello and, with the argument "then", writes a line of its own after it. */
    public static final class Child {
        public static void main(String[] args) {
            Vaultor.sysHello();
            if (args.length > 0 && args[0].equals("then")) {
                System.out.print("after\n");
                System.out.flush();
            }
        }
    }

    /** What a child JVM writes to its standard output, a pipe. */
    private static byte[] childOutput(String... args) throws Exception {
        String java = System.getProperty("java.home") + File.separator + "bin" + File.separator + "java";
        List<String> command = new ArrayList<>(List.of(java,
                "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", System.getProperty("java.class.path"),
                Child.class.getName()));
        command.addAll(Arrays.asList(args));
        Process child = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.INHERIT).start();
        try {
            byte[] out = child.getInputStream().readAllBytes();
            assertTrue(child.waitFor(120, TimeUnit.SECONDS), "child JVM ended");
            assertEquals(0, child.exitValue());
            return out;
        } finally {
            child.destroyForcibly();
        }
    }

    @Test
    void sysHelloWritesExactlyThirteenBytesToStandardOutput() throws Exception {
        assertArrayEquals("Hello world\r\n".getBytes(StandardCharsets.US_ASCII), childOutput());
    }

    @Test
    void sysHelloReachesAPipeBeforeWhatJavaWritesAfterIt() throws Exception {
        // Held in the C library's buffer, the greeting would come out only
        // when the JVM exits, after Java's own line.
        assertEquals("Hello world\r\nafter\n", new String(childOutput("then"), StandardCharsets.US_ASCII));
    }
}
