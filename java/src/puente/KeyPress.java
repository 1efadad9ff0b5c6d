package puente;

/**
 * A key typed into the component's edit control, as a typed listener receives it
 * ({@link ScanMonturaListener#onKeyPress(KeyPress)}). The listener may replace the key or swallow
 * it before the control applies it.
 *
 * <p>The bridge hands the key over in a one-byte array that the listener may change (see the
 * listener contract of {@link IScanMonturaEvents}); this class reads that byte as the unsigned
 * UTF-16 code unit it holds (0 to 255, so 'é' is '\u00E9', never a negative number). A key that
 * the bridge does not deliver, because it does not fit that byte, arrives as a key press without
 * a key: {@link #hasKey()} is false and the control applies the key unchanged.
 */
public final class KeyPress {
    private final byte[] key;

    KeyPress(byte[] key) {
        this.key = key != null && key.length == 1 ? key : null;
    }

    /**
     * Returns true when the key is known; false when the bridge did not deliver it.
     *
     * @return whether {@link #key()} may be called
     */
    public boolean hasKey() {
        return key != null;
    }

    /**
     * Returns the key as the control will apply it: the key typed, or what a listener replaced it
     * with; {@code '\0'} when it was swallowed.
     *
     * @return the key's UTF-16 code unit, 0 to 255
     * @throws IllegalStateException when the key is not known ({@link #hasKey()} false)
     */
    public char key() {
        return (char) (known()[0] & 0xFF);
    }

    /**
     * Makes the control apply {@code replacement} instead of the key typed.
     *
     * @param replacement the key to apply, {@code '\u0000'} to {@code '\u00FF'}
     * @throws IllegalArgumentException when the replacement does not fit the one byte the key
     *     travels in
     * @throws IllegalStateException when the key is not known ({@link #hasKey()} false)
     */
    public void replace(char replacement) {
        if (replacement > 0xFF) {
            throw new IllegalArgumentException(String.format(
                    "a key travels in one byte: U+%04X does not fit", (int) replacement));
        }
        known()[0] = (byte) replacement;
    }

    /**
     * Swallows the key: the control applies nothing.
     *
     * @throws IllegalStateException when the key is not known ({@link #hasKey()} false)
     */
    public void swallow() {
        replace('\0');
    }

    private byte[] known() {
        if (key == null) {
            throw new IllegalStateException("the key was not delivered (it does not fit one byte)");
        }
        return key;
    }

    @Override
    public String toString() {
        return key == null ? "KeyPress[no key]" : String.format("KeyPress[U+%04X]", (int) key());
    }
}
