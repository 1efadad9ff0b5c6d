package jtrazelo.dcs;

import java.util.Locale;
import java.util.Optional;

/** The frame type of a job, the {@code FTYP} record's codes. */
public enum FrameType {
    /** Not said (0). */
    UNDEFINED(0),
    /** A plastic full-rim frame (1). */
    PLASTIC(1),
    /** A metal full-rim frame (2). */
    METAL(2),
    /** A rimless frame, the lenses drilled (3). */
    RIMLESS(3),
    /** An optyl frame (4). */
    OPTYL(4);

    private final int code;

    FrameType(int code) {
        this.code = code;
    }

    /** {@return the code written in {@code FTYP}} */
    public int code() {
        return code;
    }

    /**
     * Returns the frame type of a code.
     *
     * @param code the code
     * @return the frame type, or empty when the code is not one of these
     */
    public static Optional<FrameType> ofCode(int code) {
        for (FrameType type : values()) {
            if (type.code == code) {
                return Optional.of(type);
            }
        }
        return Optional.empty();
    }

    /** {@return the name in lower case, as options take it ("rimless")} */
    public String label() {
        return name().toLowerCase(Locale.ROOT);
    }
}
