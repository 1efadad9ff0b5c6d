package puente;

/**
 * Letter case that the edit control applies to its text.
 *
 * <p>The component exchanges this enumeration as a 32-bit integer; {@link #value()} and
 * {@link #fromValue(int)} convert between the two and are what the native bridge calls.
 */
public enum TxEditCharCase {
    /** The text keeps the case it is typed or set in. */
    ecNormal(0),
    /** The text is converted to upper case. */
    ecUpperCase(1),
    /** The text is converted to lower case. */
    ecLowerCase(2);

    private final int value;

    TxEditCharCase(int value) {
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
    public static TxEditCharCase fromValue(int value) {
        for (TxEditCharCase constant : values()) {
            if (constant.value == value) {
                return constant;
            }
        }
        throw new IllegalArgumentException("No TxEditCharCase with value " + value);
    }
}
