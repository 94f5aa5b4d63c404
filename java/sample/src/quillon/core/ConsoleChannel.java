package quillon.core;

import java.io.FileDescriptor;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;

/**
 * Standard output as the supervisor reads it: UTF-8, and every line leaves in
 * one write of its own, flushed at once. A marker therefore never shares a
 * write with other text and never arrives in pieces.
 *
 * The supervisor acts on a marker found anywhere in one read and forwards
 * nothing else of that read, so a marker also waits until the supervisor has
 * read what was written before it: otherwise lines written just before a
 * marker would reach the pipe in time to share its read and be lost.
 */
final class ConsoleChannel {
    static final String STARTUP_MARKER = "###QUILLSTARTUPCOMP###";
    static final String SHUTDOWN_MARKER = "###QUILLSHUTDOWNCOMP###";
    static final String RESTART_MARKER = "###QUILLRESTART###";
    static final String QUIT_COMMAND = "QUIT";

    // A supervisor reads at least every few milliseconds; one that has not
    // read for this long is not coming back to it, and the marker goes anyway.
    private static final long READER_WAIT_NANOS = 10_000_000_000L;
    private static final long POLL_MILLIS = 2;
    // Until the count has shown unread bytes once, it may be one that always
    // says 0 (where a write-only pipe cannot be looked into): this pause
    // gives the supervisor time enough for several reads instead.
    private static final long UNCOUNTED_PAUSE_MILLIS = 250;

    private final FileOutputStream out = new FileOutputStream(FileDescriptor.out);
    // Counts the bytes standing unread in standard output's pipe (on Linux
    // the count works from the writing end too). Never closed: closing it
    // would close standard output.
    private final FileInputStream unread = new FileInputStream(FileDescriptor.out);
    private boolean readerGone;
    private boolean countSeen;

    synchronized void line(String text) {
        write(text);
    }

    /** Writes a marker in a read of its own, after what came before it has been read. */
    synchronized void marker(String marker) {
        awaitReader();
        write(marker);
    }

    private void write(String text) {
        try {
            out.write((text + "\n").getBytes(StandardCharsets.UTF_8));
            out.flush();
        } catch (IOException e) {
            // The supervisor has gone; nobody is left to read us.
            readerGone = true;
        }
    }

    private void awaitReader() {
        if (readerGone) {
            return;
        }
        final long start = System.nanoTime();
        try {
            if (unread.available() == 0 && !countSeen) {
                pause(UNCOUNTED_PAUSE_MILLIS);
                return;
            }
            countSeen = true;
            while (unread.available() > 0 && System.nanoTime() - start < READER_WAIT_NANOS) {
                Thread.sleep(POLL_MILLIS);
            }
        } catch (IOException e) {
            pause(UNCOUNTED_PAUSE_MILLIS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static void pause(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
