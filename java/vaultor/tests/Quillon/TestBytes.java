package Quillon;

final class TestBytes {
    private TestBytes() {
    }

    /** Deterministic, varied bytes, zeros included. */
    static byte[] pattern(int length, int seed) {
        byte[] out = new byte[length];
        for (int i = 0; i < length; i++) {
            out[i] = (byte) (i * 131 + seed * 17 + (i >>> 3));
        }
        return out;
    }
}
