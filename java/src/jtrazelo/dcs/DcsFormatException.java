package jtrazelo.dcs;

import java.io.IOException;

/** A DCS file that {@link DcsParser} refuses; the message names the line and the reason. */
public class DcsFormatException extends IOException {
    private static final long serialVersionUID = 1L;

    private final int lineNumber;
    private final String reason;

    /** A malformed record on line {@code lineNumber} (1 for the first line). */
    public DcsFormatException(int lineNumber, String reason) {
        super("line " + lineNumber + ": " + reason);
        this.lineNumber = lineNumber;
        this.reason = reason;
    }

    /** Returns the number of the offending line, 1 for the first. */
    public int lineNumber() {
        return lineNumber;
    }

    /** Returns why the line was refused, without the line number. */
    public String reason() {
        return reason;
    }
}
