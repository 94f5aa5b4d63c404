package Quillon;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * The JVM that VaultorSignalHandlersTest starts with -Xcheck:jni: loads the
 * library, calls every native once, and reports each signal handler that
 * changed meanwhile ("changed by load: ...", "changed by calls: ..."). Then
 * it reads signal numbers from its standard input and changes each one's
 * handler the way the library's load once changed SIGILL's: the JVM's
 * warnings about those tell the test when the JVM has checked its handlers.
 * It ends when its standard input does.
 * With the argument "control" it also changes SIGILL's handler that way
 * before the load, to show that both checks see such a change.
 */
final class SignalProbe {
    private static final int SIGILL = 4;

    private SignalProbe() {
    }

    static native String dispositions();

    static native void resetTheOldWay(int signal);

    public static void main(String[] args) throws Exception {
        System.loadLibrary("SignalProbe");
        boolean control = args.length > 0 && args[0].equals("control");

        String beforeLoad = dispositions();
        if (control) {
            resetTheOldWay(SIGILL);
        }
        Class.forName("Quillon.Vaultor");
        String afterLoad = dispositions();
        report("load", beforeLoad, afterLoad);

        callEveryNative();
        report("calls", afterLoad, dispositions());

        System.out.println("probe: ready");
        System.out.flush();
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.US_ASCII));
        for (String line = in.readLine(); line != null; line = in.readLine()) {
            resetTheOldWay(Integer.parseInt(line.trim()));
        }
    }

    private static void callEveryNative() {
        byte[] data = TestBytes.pattern(40, 1);
        byte[] password = TestBytes.pattern(7, 2);
        Vaultor.decrypt(Vaultor.encrypt(data, password), password);
        Vaultor.decryptById(Vaultor.encryptById(data));
        Vaultor.decryptById2(Vaultor.encryptById2(data));
        Vaultor.genkey();
        Vaultor.getit();
        Vaultor.elapsedRealtime();
        Vaultor.sysHello();
        System.out.println();
    }

    private static void report(String what, String before, String after) {
        List<String> was = Arrays.asList(before.split("\n"));
        List<String> changed = new ArrayList<>(Arrays.asList(after.split("\n")));
        changed.removeAll(was);
        for (String line : changed) {
            System.out.println("probe: changed by " + what + ": " + line);
        }
        System.out.println("probe: " + what + " compared, " + changed.size() + " changed");
    }
}
