package Quillon;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/** Several Java threads in the library at once. */
class VaultorConcurrencyTest {
    @Test
    void genkeyAndBuiltInKeyCallsFromSeveralThreads() throws Exception {
        byte[] key2 = JceCs3.keyOfText(2);
        ExecutorService pool = Executors.newFixedThreadPool(6);
        try {
            List<Future<?>> work = new ArrayList<>();
            for (int t = 0; t < 6; t++) {
                final int seed = t;
                work.add(pool.submit((Callable<Void>) () -> {
                    for (int i = 0; i < 4; i++) {
                        String text = Vaultor.genkey();
                        assertTrue(text.length() >= 768 && text.length() <= 1572);
                        assertTrue(text.matches("[0-9A-F]+"));
                    }
                    return null;
                }));
                work.add(pool.submit((Callable<Void>) () -> {
                    for (int i = 0; i < 200; i++) {
                        byte[] data = TestBytes.pattern(17 + i, seed * 1000 + i);
                        byte[] ciphertext = Vaultor.encryptById(data);
                        assertEquals(data.length, ciphertext.length);
                        assertArrayEquals(data, Vaultor.decryptById(ciphertext));
                        assertArrayEquals(data, Vaultor.decryptById2(JceCs3.encrypt(key2, data)));
                    }
                    return null;
                }));
            }
            for (Future<?> f : work) {
                f.get(300, TimeUnit.SECONDS);
            }
        } finally {
            pool.shutdownNow();
        }
    }
}
