package Quillon;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.ValueSource;

/** encrypt / decrypt in a real JVM, cross-checked with JCE both ways. */
class VaultorSealingTest {
    private static final byte[] PASSWORD = {'p', 0, 'w', (byte) 0xff, 'd'};

    @ParameterizedTest
    @ValueSource(ints = {0, 1, 15, 16, 17, 1000, 1 << 20})
    void sealsInTheFormatThatJceOpensAndOpensWhatJceSeals(int size) throws Exception {
        byte[] data = TestBytes.pattern(size, size);
        byte[] sealed = Vaultor.encrypt(data, PASSWORD);
        assertEquals(size + 72, sealed.length);
        if (size == 0) {
            assertNull(JceSealedFormat.open(sealed, PASSWORD));
            assertNull(Vaultor.decrypt(sealed, PASSWORD));
            return;
        }
        assertArrayEquals(data, JceSealedFormat.open(sealed, PASSWORD));
        assertArrayEquals(data, Vaultor.decrypt(JceSealedFormat.seal(data, PASSWORD), PASSWORD));
    }

    @Test
    void theTagIsHmacOfTheCiphertextAloneUnderTheDerivedKey() throws Exception {
        byte[] sealed = Vaultor.encrypt(TestBytes.pattern(5, 1), PASSWORD);
        assertEquals(77, sealed.length);
        byte[] key = JceSealedFormat.pbkdf2(PASSWORD, Arrays.copyOfRange(sealed, 20, 40), 10000, 32);
        byte[] tag = JceSealedFormat.hmac(key).doFinal(Arrays.copyOfRange(sealed, 40, 45));
        assertArrayEquals(tag, Arrays.copyOfRange(sealed, 45, 77));
        assertFalse(Arrays.equals(Arrays.copyOfRange(sealed, 0, 20), Arrays.copyOfRange(sealed, 20, 40)));
    }

    @Test
    void counterModeKeepsPrefixesUnderTheSameSalt() throws Exception {
        byte[] salts = TestBytes.pattern(40, 3);
        byte[] longer = TestBytes.pattern(50, 4);
        byte[] shorter = Arrays.copyOf(longer, 20);
        byte[] a = JceSealedFormat.seal(longer, PASSWORD, salts);
        byte[] b = JceSealedFormat.seal(shorter, PASSWORD, salts);
        assertArrayEquals(Arrays.copyOfRange(b, 40, 60), Arrays.copyOfRange(a, 40, 60));
        assertArrayEquals(shorter, Vaultor.decrypt(b, PASSWORD));
    }

    @ParameterizedTest(name = "byte {0} ({1})")
    @CsvSource({"0, encryption salt, false", "19, encryption salt, false",
                "20, authentication salt, true", "39, authentication salt, true",
                "40, ciphertext, true", "56, ciphertext, true",
                "57, tag, true", "88, tag, true"})
    void alteredBytesAreRefusedExceptInTheEncryptionSalt(int offset, String region, boolean refused) {
        byte[] data = TestBytes.pattern(17, 2);
        byte[] sealed = Vaultor.encrypt(data, PASSWORD);
        sealed[offset] ^= 0x40;
        byte[] opened = Vaultor.decrypt(sealed, PASSWORD);
        if (refused) {
            assertNull(opened, region);
        } else {
            assertNotNull(opened, region);
            assertEquals(data.length, opened.length);
            assertFalse(Arrays.equals(data, opened), region);
        }
    }

    /** What the class documentation says decrypt verifies, and how a String password becomes bytes. */
    @Test
    void decryptVerifiesWhatTheDocumentationSays() {
        String password = "pässwörd";
        byte[] data = "Quillon keeps this text sealed.".getBytes(StandardCharsets.UTF_8);
        byte[] sealed = Vaultor.encrypt(data, password.getBytes(StandardCharsets.UTF_8));
        assertArrayEquals(data, Vaultor.decrypt(sealed, password.getBytes(StandardCharsets.UTF_8)));
        // The bytes of another charset are another password.
        assertNull(Vaultor.decrypt(sealed, password.getBytes(StandardCharsets.ISO_8859_1)));

        byte[] saltChanged = sealed.clone();
        saltChanged[7] ^= 1;
        byte[] opened = Vaultor.decrypt(saltChanged, password.getBytes(StandardCharsets.UTF_8));
        assertNotNull(opened, "a changed encryption salt is not detected");
        assertEquals(data.length, opened.length);
        assertFalse(Arrays.equals(data, opened));

        byte[] ciphertextChanged = sealed.clone();
        ciphertextChanged[40] ^= 1;
        assertNull(Vaultor.decrypt(ciphertextChanged, password.getBytes(StandardCharsets.UTF_8)));
    }

    @Test
    void refusesShortInputAndWrongPasswords() {
        byte[] sealed = Vaultor.encrypt(new byte[] {7}, PASSWORD);
        assertEquals(73, sealed.length);
        assertArrayEquals(new byte[] {7}, Vaultor.decrypt(sealed, PASSWORD));
        assertNull(Vaultor.decrypt(Arrays.copyOf(sealed, 72), PASSWORD));
        assertNull(Vaultor.decrypt(new byte[0], PASSWORD));
        assertNull(Vaultor.decrypt(sealed, Arrays.copyOf(PASSWORD, 4)));
        assertNull(Vaultor.decrypt(sealed, new byte[0]));
    }

    @Test
    void emptyPasswordsAndZeroBytesAreUsedInFull() throws Exception {
        byte[] zeros = new byte[33];
        byte[] sealed = Vaultor.encrypt(zeros, new byte[0]);
        assertArrayEquals(zeros, Vaultor.decrypt(sealed, new byte[0]));
        assertArrayEquals(zeros, JceSealedFormat.open(sealed, new byte[0]));
        assertArrayEquals(zeros, Vaultor.decrypt(JceSealedFormat.seal(zeros, new byte[0]), new byte[0]));

        byte[] first = Vaultor.encrypt(zeros, PASSWORD);
        byte[] second = Vaultor.encrypt(zeros, PASSWORD);
        assertFalse(Arrays.equals(first, second));
        assertArrayEquals(zeros, Vaultor.decrypt(second, PASSWORD));
    }

    @Test
    void nullArraysGiveNull() {
        assertNull(Vaultor.encrypt(null, PASSWORD));
        assertNull(Vaultor.encrypt(new byte[1], null));
        assertNull(Vaultor.decrypt(null, PASSWORD));
        assertNull(Vaultor.decrypt(new byte[100], null));
    }
}
