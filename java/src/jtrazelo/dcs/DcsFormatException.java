package jtrazelo.dcs;

import java.io.IOException;

/** A DCS file that {@link DcsParser} refuses; the message names the line and the reason. */
public class DcsFormatException extends IOException {
    private static final long serialVersionUID = 1L;

    /** The number of the offending line, 1 for the first. */
    private final int lineNumber;
    /** Why the line was refused. */
    private final String reason;

    /**
     * A malformed record.
     *
     * @param lineNumber the number of its line, 1 for the first
     * @param reason why it is refused, without the line number
     */
    public DcsFormatException(int lineNumber, String reason) {
        super("line " + lineNumber + ": " + reason);
        this.lineNumber = lineNumber;
        this.reason = reason;
    }

    /** {@return the number of the offending line, 1 for the first} */
    public int lineNumber() {
        return lineNumber;
    }

    /** {@return why the line was refused, without the line number} */
    public String reason() {
        return reason;
    }
}
