package Quillon;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.BufferedReader;
import java.io.File;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * Loading and using the library leaves the JVM's signal handlers as they
 * were: seen by a reading of the handlers in the process (SignalProbe) and
 * by the JVM's -Xcheck:jni, which warns about any of its handlers changed
 * behind its back.
 */
class VaultorSignalHandlersTest {
    // Linux numbers of the two signals the probe changes once its work is done.
    private static final int SIGXFSZ = 25;
    private static final int SIGPIPE = 13;
    private static final String END = "";

    /**
     * The probe's output, up to the JVM's warning about the second of two
     * handlers changed after the work. The JVM checks its handlers in passes
     * on a thread of its own; the first warning shows a pass that began after
     * the work, the second that this pass has ended, whatever the order in
     * which a pass goes through the signals.
     */
    private static List<String> runProbe(String... args) throws Exception {
        String java = System.getProperty("java.home") + File.separator + "bin" + File.separator + "java";
        List<String> command = new ArrayList<>(List.of(java, "-Xcheck:jni",
                "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", System.getProperty("java.class.path"),
                SignalProbe.class.getName()));
        command.addAll(List.of(args));
        Process probe = new ProcessBuilder(command).redirectErrorStream(true).start();
        LinkedBlockingQueue<String> output = new LinkedBlockingQueue<>();
        Thread reader = new Thread(() -> {
            try (BufferedReader out = new BufferedReader(
                    new InputStreamReader(probe.getInputStream(), StandardCharsets.UTF_8))) {
                for (String line = out.readLine(); line != null; line = out.readLine()) {
                    output.add(line);
                }
            } catch (java.io.IOException e) {
                output.add("reading the probe failed: " + e);
            }
            output.add(END);
        });
        reader.start();
        List<String> lines = new ArrayList<>();
        try (OutputStream in = probe.getOutputStream()) {
            awaitLine(output, lines, "probe: ready");
            for (int signal : new int[] {SIGXFSZ, SIGPIPE}) {
                in.write((signal + "\n").getBytes(StandardCharsets.US_ASCII));
                in.flush();
                awaitLine(output, lines, "Warning: " + (signal == SIGXFSZ ? "SIGXFSZ" : "SIGPIPE") + " handler modified!");
            }
        } finally {
            if (!probe.waitFor(120, TimeUnit.SECONDS)) {
                probe.destroyForcibly();
            }
            reader.join(TimeUnit.SECONDS.toMillis(120));
        }
        return lines;
    }

    private static void awaitLine(LinkedBlockingQueue<String> output, List<String> lines, String wanted)
            throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(300);
        for (;;) {
            String line = output.poll(Math.max(0, deadline - System.nanoTime()), TimeUnit.NANOSECONDS);
            if (line == null || line == END) {
                throw new AssertionError((line == null ? "no \"" : "the probe ended without \"") + wanted
                        + "\"; its output:\n" + String.join("\n", lines));
            }
            lines.add(line);
            if (line.equals(wanted)) {
                return;
            }
        }
    }

    private static long warnings(List<String> lines) {
        return lines.stream().filter(l -> l.startsWith("Warning: ") && l.endsWith(" handler modified!")).count();
    }

    @Test
    void loadingAndCallingTheLibraryChangesNoHandler() throws Exception {
        List<String> lines = runProbe();
        String output = String.join("\n", lines);
        assertTrue(lines.contains("probe: load compared, 0 changed"), output);
        assertTrue(lines.contains("probe: calls compared, 0 changed"), output);
        assertEquals(2, warnings(lines), "the JVM warned about the probe's own two changes only:\n" + output);
    }

    @Test
    void bothChecksSeeTheChangeTheLoadOnceMade() throws Exception {
        List<String> lines = runProbe("control");
        String output = String.join("\n", lines);
        assertTrue(lines.stream().anyMatch(l -> l.startsWith("probe: changed by load: signal 4 ")), output);
        assertTrue(lines.contains("probe: load compared, 1 changed"), output);
        assertTrue(lines.contains("Warning: SIGILL handler modified!"), output);
        assertEquals(3, warnings(lines), output);
    }
}
