package Quillon;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import java.util.function.UnaryOperator;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** encryptById / decryptById and the second key, against CS3 built from JCE. */
class VaultorBuiltInKeyTest {
    private static final class BuiltIn {
        final byte[] key;
        final UnaryOperator<byte[]> encrypt;
        final UnaryOperator<byte[]> decrypt;

        BuiltIn(int which, UnaryOperator<byte[]> encrypt, UnaryOperator<byte[]> decrypt) {
            this.key = JceCs3.keyOfText(which);
            this.encrypt = encrypt;
            this.decrypt = decrypt;
        }
    }

    private static final BuiltIn[] KEYS = {
        new BuiltIn(1, Vaultor::encryptById, Vaultor::decryptById),
        new BuiltIn(2, Vaultor::encryptById2, Vaultor::decryptById2),
    };

    @ParameterizedTest
    @ValueSource(ints = {17, 31, 32, 33, 48, 100, 4096, 5000})
    void matchesCs3BuiltFromJceInBothDirections(int length) throws Exception {
        for (BuiltIn k : KEYS) {
            byte[] data = TestBytes.pattern(length, length);
            byte[] ciphertext = k.encrypt.apply(data);
            assertArrayEquals(JceCs3.encrypt(k.key, data), ciphertext);
            assertArrayEquals(data, JceCs3.decrypt(k.key, ciphertext));
            assertArrayEquals(data, k.decrypt.apply(JceCs3.encrypt(k.key, data)));
            assertArrayEquals(ciphertext, k.encrypt.apply(data));
        }
    }

    @Test
    void theTwoKeysDiffer() {
        byte[] data = TestBytes.pattern(40, 1);
        byte[] one = Vaultor.encryptById(data);
        assertEquals(false, java.util.Arrays.equals(one, Vaultor.encryptById2(data)));
        assertEquals(false, java.util.Arrays.equals(data, Vaultor.decryptById2(one)));
    }

    @Test
    void oneToSixteenBytesCannotBeEncryptedButDecryptAgainstTheIv() throws Exception {
        for (BuiltIn k : KEYS) {
            byte[] stream = JceCs3.aesDecryptBlock(k.key, new byte[16]);
            for (int length = 1; length <= 16; length++) {
                byte[] data = TestBytes.pattern(length, 5);
                assertNull(k.encrypt.apply(data), "encrypt " + length);
                byte[] expected = data.clone();
                for (int i = 0; i < length; i++) {
                    expected[i] ^= stream[i];
                }
                assertArrayEquals(expected, k.decrypt.apply(data), "decrypt " + length);
            }
        }
    }

    @Test
    void emptyAndNullArraysGiveNull() {
        for (BuiltIn k : KEYS) {
            assertNull(k.encrypt.apply(new byte[0]));
            assertNull(k.decrypt.apply(new byte[0]));
            assertNull(k.encrypt.apply(null));
            assertNull(k.decrypt.apply(null));
        }
    }

    @Test
    void zeroBytesPassIntact() {
        byte[] zeros = new byte[50];
        assertEquals(50, Vaultor.encryptById(zeros).length);
        assertArrayEquals(zeros, Vaultor.decryptById(Vaultor.encryptById(zeros)));
        assertEquals(5, Vaultor.decryptById(new byte[5]).length);
    }
}
