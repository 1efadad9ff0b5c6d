package jtrazelo.dcs;

import java.util.Locale;
import java.util.Optional;

/** The frame type of a job, the {@code FTYP} record's codes. */
public enum FrameType {
    UNDEFINED(0),
    PLASTIC(1),
    METAL(2),
    RIMLESS(3),
    OPTYL(4);

    private final int code;

    FrameType(int code) {
        this.code = code;
    }

    /** Returns the code written in {@code FTYP}. */
    public int code() {
        return code;
    }

    /** Returns the frame type of a code, if it is one of these. */
    public static Optional<FrameType> ofCode(int code) {
        for (FrameType type : values()) {
            if (type.code == code) {
                return Optional.of(type);
            }
        }
        return Optional.empty();
    }

    /** Returns the name in lower case, as options take it ("rimless"). */
    public String label() {
        return name().toLowerCase(Locale.ROOT);
    }
}
