package jtrazelo.tracer;

/** The eye, and so the lens opening of the frame, that a trace belongs to (as the wearer sees it). */
public enum Eye {
    /** The right eye: the component's 1, letter 'R'. */
    RIGHT(1, 'R'),
    /** The left eye: the component's 2, letter 'L'. */
    LEFT(2, 'L');

    private final int code;
    private final char letter;

    Eye(int code, char letter) {
        this.code = code;
        this.letter = letter;
    }

    /**
     * Returns the component's number for this eye.
     *
     * @return the {@code setOjo} argument: 1 right, 2 left
     */
    public int code() {
        return code;
    }

    /**
     * Returns the letter of this eye in trace files.
     *
     * @return 'R' or 'L'
     */
    public char letter() {
        return letter;
    }

    /**
     * Returns the other eye.
     *
     * @return LEFT for RIGHT, RIGHT for LEFT
     */
    public Eye other() {
        return this == RIGHT ? LEFT : RIGHT;
    }

    /**
     * Returns the eye for a letter, 'R' or 'L' (either case).
     *
     * @param letter the letter
     * @return the eye
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
