package puente;

/**
 * Letter case that the edit control applies to its text.
 *
 * <p>The component exchanges this enumeration as a 32-bit integer; {@link #value()} and
 * {@link #fromValue(int)} convert between the two and are what the native bridge calls.
 */
public enum TxEditCharCase {
    ecNormal(0),
    ecUpperCase(1),
    ecLowerCase(2);

    private final int value;

    TxEditCharCase(int value) {
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
    public static TxEditCharCase fromValue(int value) {
        for (TxEditCharCase constant : values()) {
            if (constant.value == value) {
                return constant;
            }
        }
        throw new IllegalArgumentException("No TxEditCharCase with value " + value);
    }
}
