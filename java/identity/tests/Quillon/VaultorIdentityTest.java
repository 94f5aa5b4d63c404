package Quillon;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HexFormat;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * getit on this machine. The expected text is computed here, with JCE, from
 * the facts the platform layer reports (the identity_sources program); the
 * facts themselves are checked against what the kernel reports where it can
 * be read without our code.
 */
class VaultorIdentityTest {
    private static final byte[] PLACEHOLDER_VENDOR = "GeniusIntel".getBytes(StandardCharsets.US_ASCII);
    private static final byte[] PLACEHOLDER_SERIAL = "ISADUMMYIDMAYBEVM".getBytes(StandardCharsets.US_ASCII);

    private static Map<String, byte[]> reported;

    @BeforeAll
    static void readWhatTheLayerReports() throws Exception {
        String output = run(System.getProperty("quillon.identitySources"));
        reported = new HashMap<>();
        for (String line : output.split("\n")) {
            String[] parts = line.split(" ", 2);
            if (parts.length == 2 && !parts[0].equals("identity")) {
                reported.put(parts[0], parts[1].equals("-") ? new byte[0] : HexFormat.of().parseHex(parts[1]));
            }
        }
        for (String source : List.of("vendor", "vmGenerationId", "systemUuid", "bootDiskSerial", "systemVolumeSerial")) {
            assertTrue(reported.containsKey(source), "no line for " + source + " in:\n" + output);
        }
    }

    private static String run(String... command) throws IOException, InterruptedException {
        Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
        byte[] out;
        try (InputStream in = process.getInputStream()) {
            out = in.readAllBytes();
        }
        assertTrue(process.waitFor(120, TimeUnit.SECONDS), String.join(" ", command) + " did not end");
        assertEquals(0, process.exitValue(), String.join(" ", command) + " failed");
        return new String(out, StandardCharsets.ISO_8859_1);
    }

    private static String text(String source) {
        return new String(reported.get(source), StandardCharsets.ISO_8859_1);
    }

    private static String expectedIdentity() throws Exception {
        byte[] vendor = reported.get("vendor");
        byte[] serial = new byte[0];
        for (String source : List.of("vmGenerationId", "systemUuid", "bootDiskSerial", "systemVolumeSerial")) {
            if (reported.get(source).length > 0) {
                serial = reported.get(source);
                break;
            }
        }
        boolean placeholder = serial.length == 0;
        if (placeholder) {
            vendor = PLACEHOLDER_VENDOR;
            serial = PLACEHOLDER_SERIAL;
        } else if (vendor.length == 0) {
            vendor = PLACEHOLDER_VENDOR;
        }
        MessageDigest sha256 = MessageDigest.getInstance("SHA-256");
        sha256.update(vendor);
        sha256.update(serial);
        String digest = HexFormat.of().withUpperCase().formatHex(sha256.digest());
        boolean docker = new String(vendor, StandardCharsets.ISO_8859_1).equals("docker");
        return digest + (placeholder ? "Z" : "") + (docker ? "D" : "") + "3317";
    }

    @Test
    void getitMatchesTheIndependentComputation() throws Exception {
        String identity = Vaultor.getit();
        assertEquals(expectedIdentity(), identity);
        assertTrue(identity.matches("[0-9A-F]{64}(Z|D)?3317"), identity);
    }

    @Test
    void repeatedCallsGiveTheSameText() {
        String first = Vaultor.getit();
        for (int i = 0; i < 20; i++) {
            assertEquals(first, Vaultor.getit());
        }
    }

    @Test
    void threadsCallingAtOnceAgree() throws Exception {
        String expected = Vaultor.getit();
        ExecutorService pool = Executors.newFixedThreadPool(8);
        try {
            List<Future<List<String>>> work = new ArrayList<>();
            for (int t = 0; t < 8; t++) {
                work.add(pool.submit((Callable<List<String>>) () -> {
                    List<String> texts = new ArrayList<>();
                    for (int i = 0; i < 25; i++) {
                        texts.add(Vaultor.getit());
                    }
                    return texts;
                }));
            }
            for (Future<List<String>> f : work) {
                for (String text : f.get(300, TimeUnit.SECONDS)) {
                    assertEquals(expected, text);
                }
            }
        } finally {
            pool.shutdownNow();
        }
    }

    @Test
    void vendorIsTheKernelsVendorId() throws Exception {
        String vendorLine = Files.readAllLines(Path.of("/proc/cpuinfo")).stream()
                .filter(l -> l.startsWith("vendor_id")).findFirst().orElseThrow();
        assertEquals(vendorLine.substring(vendorLine.indexOf(':') + 1).trim(), text("vendor"));
    }

    @Test
    void noGenerationCounterOnLinux() {
        assertEquals("", text("vmGenerationId"));
    }

    @Test
    void systemUuidIsTheFirmwaresInUppercase() throws Exception {
        Path uuid = Path.of("/sys/class/dmi/id/product_uuid");
        String expected = "";
        if (Files.isReadable(uuid)) {
            expected = Files.readString(uuid, StandardCharsets.ISO_8859_1).strip().toUpperCase(Locale.ROOT);
        }
        assertEquals(expected, text("systemUuid"));
    }

    @Test
    void volumeSerialIsTheRootFileSystemsIdentifierFolded() throws Exception {
        // stat prints f_fsid as one 64-bit number, the first word high.
        long fsid = Long.parseUnsignedLong(run("stat", "-f", "-c", "%i", "/").strip(), 16);
        long folded = (fsid >>> 32) ^ (fsid & 0xFFFFFFFFL);
        String expected = String.format("%04x-%04x", folded >>> 16, folded & 0xFFFF);
        assertEquals(expected, text("systemVolumeSerial"));
    }
}
