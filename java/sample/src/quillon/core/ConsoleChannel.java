package quillon.core;

import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;

/**
 * Standard output as the supervisor reads it: UTF-8, and every line leaves in
 * one write of its own, flushed at once. A marker therefore never shares a
 * write with other text and never arrives in pieces.
 */
final class ConsoleChannel {
    static final String STARTUP_MARKER = "###QUILLSTARTUPCOMP###";
    static final String SHUTDOWN_MARKER = "###QUILLSHUTDOWNCOMP###";
    static final String RESTART_MARKER = "###QUILLRESTART###";
    static final String QUIT_COMMAND = "QUIT";

    private final FileOutputStream out = new FileOutputStream(FileDescriptor.out);

    synchronized void line(String text) {
        try {
            out.write((text + "\n").getBytes(StandardCharsets.UTF_8));
            out.flush();
        } catch (IOException e) {
            // The supervisor has gone; nobody is left to read us.
        }
    }
}
