package jtrazelo.tracer;

/** The eye, and so the lens opening of the frame, that a trace belongs to (as the wearer sees it). */
public enum Eye {
    RIGHT(1, 'R'),
    LEFT(2, 'L');

    private final int code;
    private final char letter;

    Eye(int code, char letter) {
        this.code = code;
        this.letter = letter;
    }

    /** Returns the component's number for this eye (its {@code setOjo} argument). */
    public int code() {
        return code;
    }

    /** Returns the letter of this eye in trace files: 'R' or 'L'. */
    public char letter() {
        return letter;
    }

    /** Returns the other eye. */
    public Eye other() {
        return this == RIGHT ? LEFT : RIGHT;
    }

    /**
     * Returns the eye for a letter, 'R' or 'L' (either case).
     *
     * @throws IllegalArgumentException for any other letter
     */
    public static Eye fromLetter(char letter) {
        switch (Character.toUpperCase(letter)) {
            case 'R':
                return RIGHT;
            case 'L':
                return LEFT;
            default:
                throw new IllegalArgumentException("No eye with letter '" + letter + "' (R or L)");
        }
    }
}
