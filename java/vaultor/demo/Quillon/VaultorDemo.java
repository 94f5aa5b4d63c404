package Quillon;

import java.nio.charset.StandardCharsets;

/** Loads the Vaultor library and shows each of its functions once. */
public final class VaultorDemo {
    private VaultorDemo() {
    }

    private static String hex(byte[] bytes, int limit) {
        if (bytes == null) {
            return "null";
        }
        StringBuilder out = new StringBuilder();
        for (int i = 0; i < Math.min(bytes.length, limit); i++) {
            out.append(String.format("%02x", bytes[i] & 0xff));
        }
        return out + (bytes.length > limit ? "..." : "") + " (" + bytes.length + " bytes)";
    }

    private static String text(byte[] bytes) {
        return bytes == null ? "null" : new String(bytes, StandardCharsets.UTF_8);
    }

    public static void main(String[] args) {
        String message = args.length > 0 ? String.join(" ", args) : "Quillon keeps this text sealed.";
        byte[] data = message.getBytes(StandardCharsets.UTF_8);
        byte[] password = "correct horse battery staple".getBytes(StandardCharsets.UTF_8);

        System.out.println("text:                " + message);
        byte[] sealed = Vaultor.encrypt(data, password);
        System.out.println("encrypt:             " + hex(sealed, 24));
        System.out.println("decrypt:             " + text(Vaultor.decrypt(sealed, password)));
        System.out.println("decrypt, wrong pass: " + text(Vaultor.decrypt(sealed, "wrong".getBytes(StandardCharsets.UTF_8))));

        byte[] byId = Vaultor.encryptById(data);
        System.out.println("encryptById:         " + hex(byId, 24));
        System.out.println("decryptById:         " + text(Vaultor.decryptById(byId)));
        byte[] byId2 = Vaultor.encryptById2(data);
        System.out.println("encryptById2:        " + hex(byId2, 24));
        System.out.println("decryptById2:        " + text(Vaultor.decryptById2(byId2)));

        String key = Vaultor.genkey();
        System.out.println("genkey:              " + key.substring(0, 32) + "... (" + key.length() + " characters)");
        long now = Vaultor.elapsedRealtime();
        System.out.println("elapsedRealtime:     " + now + " ms since 1601 ("
                + java.time.Instant.ofEpochMilli(now - 11644473600000L) + ")");
        try {
            System.out.println("getit:               " + Vaultor.getit());
        } catch (UnsatisfiedLinkError e) {
            System.out.println("getit:               not in this build of the library");
        }
        System.out.print("sysHello:            ");
        System.out.flush();
        Vaultor.sysHello();
    }
}
