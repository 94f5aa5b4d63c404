package Quillon;

import java.security.GeneralSecurityException;
import java.security.MessageDigest;
import java.security.SecureRandom;
import java.util.Arrays;
import javax.crypto.Cipher;
import javax.crypto.Mac;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.SecretKeySpec;

/**
 * The password-sealed format in pure Java (JCE): encryption salt (20),
 * authentication salt (20), AES-256-CTR ciphertext from a zero counter block,
 * HMAC-SHA-256 of the ciphertext (32). Independent of the native library.
 */
public final class JceSealedFormat {
    public static final int SALT = 20;
    public static final int TAG = 32;
    public static final int OVERHEAD = 2 * SALT + TAG;
    public static final int ITERATIONS = 10000;

    private static final SecureRandom RANDOM = new SecureRandom();

    private JceSealedFormat() {
    }

    /** HMAC-SHA-256 keyed with raw bytes; the empty key is the all-zero block, as HMAC pads it. */
    public static Mac hmac(byte[] key) throws GeneralSecurityException {
        Mac mac = Mac.getInstance("HmacSHA256");
        mac.init(new SecretKeySpec(key.length == 0 ? new byte[64] : key, "HmacSHA256"));
        return mac;
    }

    /** PBKDF2-HMAC-SHA-256 over the raw password bytes (JCE's key factory takes characters). */
    public static byte[] pbkdf2(byte[] password, byte[] salt, int iterations, int length)
            throws GeneralSecurityException {
        Mac mac = hmac(password);
        byte[] out = new byte[length];
        for (int block = 1, done = 0; done < length; block++) {
            mac.update(salt);
            mac.update(new byte[] {(byte) (block >>> 24), (byte) (block >>> 16), (byte) (block >>> 8), (byte) block});
            byte[] u = mac.doFinal();
            byte[] t = u.clone();
            for (int i = 1; i < iterations; i++) {
                u = mac.doFinal(u);
                for (int j = 0; j < t.length; j++) {
                    t[j] ^= u[j];
                }
            }
            int take = Math.min(t.length, length - done);
            System.arraycopy(t, 0, out, done, take);
            done += take;
        }
        return out;
    }

    public static byte[] aesCtr(byte[] key, byte[] data) throws GeneralSecurityException {
        Cipher cipher = Cipher.getInstance("AES/CTR/NoPadding");
        cipher.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(key, "AES"), new IvParameterSpec(new byte[16]));
        return cipher.doFinal(data);
    }

    /** Seals with the given 40 bytes of salts. */
    public static byte[] seal(byte[] data, byte[] password, byte[] salts) throws GeneralSecurityException {
        byte[] encryptionSalt = Arrays.copyOfRange(salts, 0, SALT);
        byte[] authenticationSalt = Arrays.copyOfRange(salts, SALT, 2 * SALT);
        byte[] ciphertext = aesCtr(pbkdf2(password, encryptionSalt, ITERATIONS, 32), data);
        byte[] tag = hmac(pbkdf2(password, authenticationSalt, ITERATIONS, 32)).doFinal(ciphertext);
        byte[] out = new byte[data.length + OVERHEAD];
        System.arraycopy(salts, 0, out, 0, 2 * SALT);
        System.arraycopy(ciphertext, 0, out, 2 * SALT, ciphertext.length);
        System.arraycopy(tag, 0, out, 2 * SALT + ciphertext.length, TAG);
        return out;
    }

    public static byte[] seal(byte[] data, byte[] password) throws GeneralSecurityException {
        byte[] salts = new byte[2 * SALT];
        RANDOM.nextBytes(salts);
        return seal(data, password, salts);
    }

    /** The data, or null for input of 72 bytes or fewer or a tag that does not match. */
    public static byte[] open(byte[] sealed, byte[] password) throws GeneralSecurityException {
        if (sealed.length <= OVERHEAD) {
            return null;
        }
        byte[] ciphertext = Arrays.copyOfRange(sealed, 2 * SALT, sealed.length - TAG);
        byte[] authenticationKey = pbkdf2(password, Arrays.copyOfRange(sealed, SALT, 2 * SALT), ITERATIONS, 32);
        byte[] tag = hmac(authenticationKey).doFinal(ciphertext);
        if (!MessageDigest.isEqual(tag, Arrays.copyOfRange(sealed, sealed.length - TAG, sealed.length))) {
            return null;
        }
        return aesCtr(pbkdf2(password, Arrays.copyOfRange(sealed, 0, SALT), ITERATIONS, 32), ciphertext);
    }
}
