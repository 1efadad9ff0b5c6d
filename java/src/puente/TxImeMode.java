package puente;

/**
 * Input method editor mode of the control.
 *
 * <p>The component exchanges this enumeration as a 32-bit integer; {@link #value()} and
 * {@link #fromValue(int)} convert between the two and are what the native bridge calls.
 */
public enum TxImeMode {
    imDisable(0),
    imClose(1),
    imOpen(2),
    imDontCare(3),
    imSAlpha(4),
    imAlpha(5),
    imHira(6),
    imSKata(7),
    imKata(8),
    imChinese(9),
    imSHanguel(10),
    imHanguel(11);

    private final int value;

    TxImeMode(int value) {
        this.value = value;
    }

    /** Returns the integer that the component uses for this constant. */
    public int value() {
        return value;
    }

    /**
     * Returns the constant for an integer received from the component.
     *
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
