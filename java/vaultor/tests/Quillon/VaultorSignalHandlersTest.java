package Quillon;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.BufferedReader;
import java.io.File;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
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

    /** The lines of one stream of the probe, as they arrive. */
    private static final class Lines {
        private final List<String> lines = new ArrayList<>();
        private boolean ended;

        Lines(InputStream stream) {
            Thread reader = new Thread(() -> {
                try (BufferedReader in = new BufferedReader(new InputStreamReader(stream, StandardCharsets.UTF_8))) {
                    for (String line = in.readLine(); line != null; line = in.readLine()) {
                        add(line);
                    }
                } catch (java.io.IOException e) {
                    add("reading the probe failed: " + e);
                }
                end();
            });
            reader.setDaemon(true);
            reader.start();
        }

        private synchronized void add(String line) {
            lines.add(line);
            notifyAll();
        }

        private synchronized void end() {
            ended = true;
            notifyAll();
        }

        synchronized void await(String wanted) throws InterruptedException {
            long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(300);
            while (!lines.contains(wanted)) {
                long left = deadline - System.nanoTime();
                if (ended || left <= 0) {
                    throw new AssertionError("no \"" + wanted + "\" from the probe; so far:\n" + this);
                }
                TimeUnit.NANOSECONDS.timedWait(this, left);
            }
        }

        synchronized void awaitEnd() throws InterruptedException {
            long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(120);
            for (long left = TimeUnit.SECONDS.toNanos(120); !ended && left > 0; left = deadline - System.nanoTime()) {
                TimeUnit.NANOSECONDS.timedWait(this, left);
            }
        }

        synchronized List<String> all() {
            return new ArrayList<>(lines);
        }

        @Override
        public synchronized String toString() {
            return String.join("\n", lines);
        }
    }

    /** The probe's report (its standard output) and the JVM's warnings (its standard error). */
    private record Run(List<String> report, List<String> warnings, String output) {
    }

    /**
     * Runs the probe until the JVM has warned about two handlers changed one
     * after the other once the work was done, then to its end. The JVM checks
     * its handlers in passes, one after the other on a thread of its own, and
     * SIGPIPE before SIGXFSZ: SIGPIPE is changed once SIGXFSZ's warning is
     * out, so its warning comes from a pass that began after all the work,
     * and that pass ends before the JVM does. Every warning is read: the
     * JVM's output goes to standard error, apart from what the probe prints.
     */
    private static Run runProbe(String... args) throws Exception {
        String java = System.getProperty("java.home") + File.separator + "bin" + File.separator + "java";
        List<String> command = new ArrayList<>(List.of(java, "-Xcheck:jni", "-XX:+DisplayVMOutputToStderr",
                "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", System.getProperty("java.class.path"),
                SignalProbe.class.getName()));
        command.addAll(List.of(args));
        Process probe = new ProcessBuilder(command).start();
        Lines report = new Lines(probe.getInputStream());
        Lines jvm = new Lines(probe.getErrorStream());
        try (OutputStream in = probe.getOutputStream()) {
            report.await("probe: ready");
            in.write((SIGXFSZ + "\n").getBytes(StandardCharsets.US_ASCII));
            in.flush();
            jvm.await("Warning: SIGXFSZ handler modified!");
            in.write((SIGPIPE + "\n").getBytes(StandardCharsets.US_ASCII));
            in.flush();
            jvm.await("Warning: SIGPIPE handler modified!");
        } finally {
            if (!probe.waitFor(120, TimeUnit.SECONDS)) {
                probe.destroyForcibly();
            }
        }
        report.awaitEnd();
        jvm.awaitEnd();
        List<String> warnings = jvm.all().stream()
                .filter(l -> l.startsWith("Warning: ") && l.endsWith(" handler modified!")).toList();
        return new Run(report.all(), warnings, report + "\n-- the JVM:\n" + jvm);
    }

    @Test
    void loadingAndCallingTheLibraryChangesNoHandler() throws Exception {
        Run run = runProbe();
        assertTrue(run.report().contains("probe: load compared, 0 changed"), run.output());
        assertTrue(run.report().contains("probe: calls compared, 0 changed"), run.output());
        assertEquals(List.of("Warning: SIGXFSZ handler modified!", "Warning: SIGPIPE handler modified!"),
                run.warnings(), "the JVM warned about the probe's own two changes only:\n" + run.output());
    }

    @Test
    void bothChecksSeeTheChangeTheLoadOnceMade() throws Exception {
        Run run = runProbe("control");
        assertTrue(run.report().stream().anyMatch(l -> l.startsWith("probe: changed by load: signal 4 ")),
                run.output());
        assertTrue(run.report().contains("probe: load compared, 1 changed"), run.output());
        assertEquals(List.of("Warning: SIGILL handler modified!", "Warning: SIGPIPE handler modified!",
                "Warning: SIGXFSZ handler modified!"), run.warnings().stream().sorted().toList(), run.output());
    }
}
