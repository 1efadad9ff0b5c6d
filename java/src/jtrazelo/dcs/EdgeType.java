package jtrazelo.dcs;

import java.util.Locale;
import java.util.Optional;

/** How a lens is edged, the {@code ETYP} record's codes. */
public enum EdgeType {
    UNCUT(-1),
    BEVEL(1),
    RIMLESS(2),
    GROOVE(3),
    MINI_BEVEL(4);

    private final int code;

    EdgeType(int code) {
        this.code = code;
    }

    /** Returns the code written in {@code ETYP}. */
    public int code() {
        return code;
    }

    /** Returns the edge type of a code, if it is one of these. */
    public static Optional<EdgeType> ofCode(int code) {
        for (EdgeType type : values()) {
            if (type.code == code) {
                return Optional.of(type);
            }
        }
        return Optional.empty();
    }

    /** Returns the name in lower case with '-' for '_', as options take it ("mini-bevel"). */
    public String label() {
        return name().toLowerCase(Locale.ROOT).replace('_', '-');
    }
}
