package Quillon;

import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;

/** genkey's texts. (That reseeding repeats the lengths is tested in C++.) */
class VaultorKeyTextTest {
    @Test
    void uppercaseHexOfTheAllowedLengthsAndNewEachCall() {
        String previous = "";
        int shortest = Integer.MAX_VALUE;
        int longest = 0;
        for (int i = 0; i < 20; i++) {
            String text = Vaultor.genkey();
            assertTrue(text.length() >= 768 && text.length() <= 1572, "length " + text.length());
            assertTrue(text.matches("[0-9A-F]+"), text);
            assertNotEquals(previous.isEmpty() ? "" : previous.substring(0, 768), text.substring(0, 768));
            shortest = Math.min(shortest, text.length());
            longest = Math.max(longest, text.length());
            previous = text;
        }
        assertTrue(longest > shortest, "the length varies");
    }
}
