package puente;

/**
 * Border style of the control's window frame.
 *
 * <p>The component exchanges this enumeration as a 32-bit integer; {@link #value()} and
 * {@link #fromValue(int)} convert between the two and are what the native bridge calls.
 */
public enum TxFormBorderStyle {
    /** No border. */
    bsNone(0),
    /** A single-line border, not resizable. */
    bsSingle(1),
    /** A resizable border. */
    bsSizeable(2),
    /** A dialog box border, not resizable. */
    bsDialog(3),
    /** A tool window border, not resizable. */
    bsToolWindow(4),
    /** A resizable tool window border. */
    bsSizeToolWin(5);

    private final int value;

    TxFormBorderStyle(int value) {
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
    public static TxFormBorderStyle fromValue(int value) {
        for (TxFormBorderStyle constant : values()) {
            if (constant.value == value) {
                return constant;
            }
        }
        throw new IllegalArgumentException("No TxFormBorderStyle with value " + value);
    }
}
