package quillon.core;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.time.Instant;

/**
 * The sample Quillon application. It starts, announces that its start-up is
 * complete, then waits for the quit command on standard input, announces its
 * shut-down and ends. A real application does its work between the two
 * announcements.
 */
public final class Bootstrap {
    private Bootstrap() {
    }

    public static void main(String[] args) throws IOException {
        ConsoleChannel console = new ConsoleChannel();
        console.line("Quillon sample application starting (Java " + Runtime.version() + ")");
        console.line("Working directory: " + System.getProperty("user.dir"));
        console.line("Started at " + Instant.now());
        console.marker(ConsoleChannel.STARTUP_MARKER);

        BufferedReader commands = new BufferedReader(
                new InputStreamReader(System.in, StandardCharsets.UTF_8));
        String command;
        while ((command = commands.readLine()) != null) {
            if (command.trim().equals(ConsoleChannel.QUIT_COMMAND)) {
                break;
            }
            console.line("Unknown command: " + command);
        }
        // Standard input also closes when the supervisor is gone: end the same way.
        console.line("Quillon sample application shutting down");
        console.marker(ConsoleChannel.SHUTDOWN_MARKER);
        System.exit(0);
    }
}
