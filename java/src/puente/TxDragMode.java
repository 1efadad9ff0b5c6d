package puente;

/**
 * How the control starts a drag operation.
 *
 * <p>The component exchanges this enumeration as a 32-bit integer; {@link #value()} and
 * {@link #fromValue(int)} convert between the two and are what the native bridge calls.
 */
public enum TxDragMode {
    /** The program starts a drag itself. */
    dmManual(0),
    /** A drag starts when the user presses the mouse button on the control. */
    dmAutomatic(1);

    private final int value;

    TxDragMode(int value) {
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
    public static TxDragMode fromValue(int value) {
        for (TxDragMode constant : values()) {
            if (constant.value == value) {
                return constant;
            }
        }
        throw new IllegalArgumentException("No TxDragMode with value " + value);
    }
}
