package puente;

/**
 * Border style of the control's window frame.
 *
 * <p>The component exchanges this enumeration as a 32-bit integer; {@link #value()} and
 * {@link #fromValue(int)} convert between the two and are what the native bridge calls.
 */
public enum TxFormBorderStyle {
    bsNone(0),
    bsSingle(1),
    bsSizeable(2),
    bsDialog(3),
    bsToolWindow(4),
    bsSizeToolWin(5);

    private final int value;

    TxFormBorderStyle(int value) {
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
    public static TxFormBorderStyle fromValue(int value) {
        for (TxFormBorderStyle constant : values()) {
            if (constant.value == value) {
                return constant;
            }
        }
        throw new IllegalArgumentException("No TxFormBorderStyle with value " + value);
    }
}
