package quillon.core;

import java.io.File;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * A stand-in for the Quillon application that follows a script given in the
 * environment, so that tests can make it misbehave in every way the supervisor
 * has to cope with.
 *
 * QUILLON_STANDIN holds one script per run, separated by '|'; run N uses
 * script N, runs past the last script use the last one. A script is a list of
 * steps separated by ';':
 *   out:TEXT     one write of TEXT and a line feed to standard output
 *   raw:TEXT     one write of TEXT alone to standard output
 *   err:TEXT     one write of TEXT and a line feed to standard error
 *   startup, shutdown, restart   one write of that marker and a line feed
 *   sleep:MS     pause
 *   quit         read standard input until a line "QUIT" (end of input ends the program)
 *   hang         read and ignore standard input, never end by itself
 *   flood:BYTES  BYTES bytes of 64-byte numbered lines in 64 KiB writes
 *   exit:CODE    end with that exit code
 *   stamp:NAME   write System.nanoTime() (the monotonic clock) to the file NAME
 *                in QUILLON_STANDIN_DIR
 *   spawn:CMD    start the program CMD (words split at blanks) with no standard
 *                input or output, and write its process id to the file
 *                spawned-N (N = this run) in QUILLON_STANDIN_DIR
 * In TEXT, "\n" stands for a line feed and "\0" for a zero byte. A script that
 * runs out ends with code 0.
 *
 * QUILLON_STANDIN_DIR, when set, gets a file run-N per run holding the process
 * id, working directory, arguments and file encoding property, and tells runs apart.
 */
public final class Bootstrap {
    private static final OutputStream OUT = new FileOutputStream(FileDescriptor.out);
    private static final OutputStream ERR = new FileOutputStream(FileDescriptor.err);

    private Bootstrap() {
    }

    public static void main(String[] args) throws Exception {
        int run = recordRun(args);
        currentRun = run;
        String all = System.getenv("QUILLON_STANDIN");
        if (all == null || all.isEmpty()) {
            all = "out:stand-in starting;startup;quit;shutdown";
        }
        String[] scripts = all.split("\\|", -1);
        String script = scripts[Math.min(run, scripts.length - 1)];
        for (String step : script.split(";")) {
            perform(step);
        }
        System.exit(0);
    }

    private static void perform(String step) throws Exception {
        int colon = step.indexOf(':');
        String verb = colon < 0 ? step : step.substring(0, colon);
        String arg = colon < 0 ? "" : step.substring(colon + 1).replace("\\n", "\n").replace("\\0", "\0");
        switch (verb) {
            case "out": write(OUT, arg + "\n"); break;
            case "raw": write(OUT, arg); break;
            case "err": write(ERR, arg + "\n"); break;
            case "startup": write(OUT, "###QUILLSTARTUPCOMP###\n"); break;
            case "shutdown": write(OUT, "###QUILLSHUTDOWNCOMP###\n"); break;
            case "restart": write(OUT, "###QUILLRESTART###\n"); break;
            case "sleep": Thread.sleep(Long.parseLong(arg)); break;
            case "quit": awaitQuit(); break;
            case "hang": hang(); break;
            case "flood": flood(Long.parseLong(arg)); break;
            case "exit": System.exit(Integer.parseInt(arg)); break;
            case "stamp": stamp(arg); break;
            case "spawn": spawn(arg); break;
            case "": break;
            default: throw new IllegalArgumentException("unknown step: " + step);
        }
    }

    private static void write(OutputStream stream, String text) throws IOException {
        stream.write(text.getBytes(StandardCharsets.UTF_8));
        stream.flush();
    }

    private static String readLine(InputStream in) throws IOException {
        StringBuilder line = new StringBuilder();
        int c;
        while ((c = in.read()) >= 0 && c != '\n') {
            line.append((char) c);
        }
        return c < 0 && line.length() == 0 ? null : line.toString();
    }

    private static void awaitQuit() throws IOException {
        String line;
        while ((line = readLine(System.in)) != null) {
            if (line.equals("QUIT")) {
                return;
            }
        }
        System.exit(0);
    }

    private static void hang() throws Exception {
        while (readLine(System.in) != null) {
            // ignored on purpose
        }
        Thread.sleep(Long.MAX_VALUE);
    }

    /** Lines "NNNNNNNNNN" + 53 dots + line feed: 64 bytes, numbered from 1. */
    private static void flood(long bytes) throws IOException {
        long lines = bytes / 64;
        byte[] chunk = new byte[64 * 1024];
        int used = 0;
        for (long n = 1; n <= lines; n++) {
            long digits = n;
            for (int i = 9; i >= 0; i--) {
                chunk[used + i] = (byte) ('0' + digits % 10);
                digits /= 10;
            }
            Arrays.fill(chunk, used + 10, used + 63, (byte) '.');
            chunk[used + 63] = '\n';
            used += 64;
            if (used == chunk.length) {
                OUT.write(chunk, 0, used);
                used = 0;
            }
        }
        if (used > 0) {
            OUT.write(chunk, 0, used);
        }
        OUT.flush();
    }

    private static void stamp(String name) throws IOException {
        long now = System.nanoTime();
        String dir = System.getenv("QUILLON_STANDIN_DIR");
        Files.write(new File(dir, name).toPath(),
                Long.toString(now).getBytes(StandardCharsets.UTF_8));
    }

    private static int currentRun;

    private static void spawn(String command) throws IOException {
        Process child = new ProcessBuilder(command.split(" "))
                .redirectInput(ProcessBuilder.Redirect.from(new File("/dev/null")))
                .redirectOutput(ProcessBuilder.Redirect.DISCARD)
                .redirectError(ProcessBuilder.Redirect.DISCARD)
                .start();
        String dir = System.getenv("QUILLON_STANDIN_DIR");
        Files.write(new File(dir, "spawned-" + currentRun).toPath(),
                Long.toString(child.pid()).getBytes(StandardCharsets.UTF_8));
    }

    private static int recordRun(String[] args) throws IOException {
        String dir = System.getenv("QUILLON_STANDIN_DIR");
        if (dir == null || dir.isEmpty()) {
            return 0;
        }
        int run = 0;
        File record;
        while (!(record = new File(dir, "run-" + run)).createNewFile()) {
            run++;
        }
        List<String> lines = new ArrayList<>();
        lines.add("pid=" + ProcessHandle.current().pid());
        lines.add("cwd=" + System.getProperty("user.dir"));
        lines.add("encoding=" + System.getProperty("file.encoding"));
        lines.add("args=" + String.join(" ", args));
        lines.add("end");
        Files.write(record.toPath(), lines, StandardCharsets.UTF_8);
        return run;
    }
}
