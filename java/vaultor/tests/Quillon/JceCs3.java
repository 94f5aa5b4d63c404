package Quillon;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.GeneralSecurityException;
import java.util.Arrays;
import java.util.Base64;
import javax.crypto.Cipher;
import javax.crypto.spec.SecretKeySpec;

/**
 * AES-256 CBC with ciphertext stealing in the CS3 arrangement, zero IV, built
 * from single JCE block operations; and the built-in keys derived from their
 * stored texts with the JDK's base64 decoder.
 */
final class JceCs3 {
    private JceCs3() {
    }

    static byte[] builtInKey(String storedText) {
        byte[] decoded = Base64.getDecoder().decode(storedText.replace("=", ""));
        byte[] key = new byte[32];
        for (int i = 0; i < Math.min(32, decoded.length); i++) {
            key[i] = (byte) (decoded[i] + i - 72);
        }
        return key;
    }

    /** The key of storedKeyText1 or 2, read from the data file the library is built from. */
    static byte[] keyOfText(int which) {
        String file = System.getProperty("quillon.keyTexts");
        if (file == null || file.isEmpty()) {
            throw new IllegalStateException("quillon.keyTexts is not set");
        }
        String name = "storedKeyText" + which + " ";
        try {
            for (String line : Files.readAllLines(Path.of(file), StandardCharsets.US_ASCII)) {
                if (line.startsWith(name)) {
                    return builtInKey(line.substring(name.length()));
                }
            }
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        throw new IllegalStateException(file + " has no " + name.trim());
    }

    private static byte[] block(byte[] key, int mode, byte[] in) throws GeneralSecurityException {
        Cipher cipher = Cipher.getInstance("AES/ECB/NoPadding");
        cipher.init(mode, new SecretKeySpec(key, "AES"));
        return cipher.doFinal(in);
    }

    private static byte[] xor(byte[] a, byte[] b) {
        byte[] out = a.clone();
        for (int i = 0; i < out.length && i < b.length; i++) {
            out[i] ^= b[i];
        }
        return out;
    }

    static byte[] aesDecryptBlock(byte[] key, byte[] in) throws GeneralSecurityException {
        return block(key, Cipher.DECRYPT_MODE, in);
    }

    /** Data longer than one block. */
    static byte[] encrypt(byte[] key, byte[] data) throws GeneralSecurityException {
        int n = data.length;
        int last = n % 16 == 0 ? 16 : n % 16;
        int lead = n - last - 16; // bytes before the second-to-last block
        byte[] out = new byte[n];
        byte[] chain = new byte[16];
        for (int off = 0; off < lead; off += 16) {
            chain = block(key, Cipher.ENCRYPT_MODE, xor(Arrays.copyOfRange(data, off, off + 16), chain));
            System.arraycopy(chain, 0, out, off, 16);
        }
        byte[] penultimate = block(key, Cipher.ENCRYPT_MODE, xor(Arrays.copyOfRange(data, lead, lead + 16), chain));
        byte[] finalPlain = Arrays.copyOfRange(data, lead + 16, lead + 32); // zero-filled past the end
        byte[] finalCipher = block(key, Cipher.ENCRYPT_MODE, xor(finalPlain, penultimate));
        System.arraycopy(finalCipher, 0, out, lead, 16);
        System.arraycopy(penultimate, 0, out, lead + 16, last);
        return out;
    }

    /** Inverse of encrypt. */
    static byte[] decrypt(byte[] key, byte[] data) throws GeneralSecurityException {
        int n = data.length;
        int last = n % 16 == 0 ? 16 : n % 16;
        int lead = n - last - 16;
        byte[] out = new byte[n];
        byte[] chain = new byte[16];
        for (int off = 0; off < lead; off += 16) {
            byte[] c = Arrays.copyOfRange(data, off, off + 16);
            System.arraycopy(xor(block(key, Cipher.DECRYPT_MODE, c), chain), 0, out, off, 16);
            chain = c;
        }
        byte[] d = block(key, Cipher.DECRYPT_MODE, Arrays.copyOfRange(data, lead, lead + 16));
        byte[] penultimate = Arrays.copyOfRange(data, lead + 16, lead + 32);
        System.arraycopy(d, last, penultimate, last, 16 - last);
        byte[] finalPlain = xor(d, penultimate);
        byte[] penultimatePlain = xor(block(key, Cipher.DECRYPT_MODE, penultimate), chain);
        System.arraycopy(penultimatePlain, 0, out, lead, 16);
        System.arraycopy(finalPlain, 0, out, lead + 16, last);
        return out;
    }
}
