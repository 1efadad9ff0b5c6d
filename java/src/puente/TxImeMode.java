package puente;

/**
 * Input method editor mode of the control.
 *
 * <p>The component exchanges this enumeration as a 32-bit integer; {@link #value()} and
 * {@link #fromValue(int)} convert between the two and are what the native bridge calls.
 */
public enum TxImeMode {
    /** The input method editor is off and cannot be switched on. */
    imDisable(0),
    /** The input method editor is closed. */
    imClose(1),
    /** The input method editor is open. */
    imOpen(2),
    /** The input method editor keeps whatever mode it is in. */
    imDontCare(3),
    /** Single-byte alphanumeric input. */
    imSAlpha(4),
    /** Double-byte alphanumeric input. */
    imAlpha(5),
    /** Hiragana input. */
    imHira(6),
    /** Single-byte katakana input. */
    imSKata(7),
    /** Double-byte katakana input. */
    imKata(8),
    /** Chinese input. */
    imChinese(9),
    /** Single-byte Hangul input. */
    imSHanguel(10),
    /** Double-byte Hangul input. */
    imHanguel(11);

    private final int value;

    TxImeMode(int value) {
        this.value = value;
    }

    /**
     * Returns the integer that the component uses for this constant.
     *
     * @return the component's number
     */
    public int value() {
        return value;
    }

    /**
     * Returns the constant for an integer received from the component.
     *
     * @param value the component's number
     * @return the constant with that number
     * @throws IllegalArgumentException when no constant has that value
     */
    public static TxImeMode fromValue(int value) {
        for (TxImeMode constant : values()) {
            if (constant.value == value) {
                return constant;
            }
        }
        throw new IllegalArgumentException("No TxImeMode with value " + value);
    }
}
