package jtrazelo.dcs;

import java.util.Locale;
import java.util.Optional;

/** How a lens is edged, the {@code ETYP} record's codes. */
public enum EdgeType {
    /** Not edged (-1). */
    UNCUT(-1),
    /** A bevel for a full-rim frame (1). */
    BEVEL(1),
    /** A flat edge for a rimless mount (2). */
    RIMLESS(2),
    /** A groove for a nylon thread (3). */
    GROOVE(3),
    /** A small bevel (4). */
    MINI_BEVEL(4);

    private final int code;

    EdgeType(int code) {
        this.code = code;
    }

    /** {@return the code written in {@code ETYP}} */
    public int code() {
        return code;
    }

    /**
     * Returns the edge type of a code.
     *
     * @param code the code
     * @return the edge type, or empty when the code is not one of these
     */
    public static Optional<EdgeType> ofCode(int code) {
        for (EdgeType type : values()) {
            if (type.code == code) {
                return Optional.of(type);
            }
        }
        return Optional.empty();
    }

    /** {@return the name in lower case with '-' for '_', as options take it ("mini-bevel")} */
    public String label() {
        return name().toLowerCase(Locale.ROOT).replace('_', '-');
    }
}
