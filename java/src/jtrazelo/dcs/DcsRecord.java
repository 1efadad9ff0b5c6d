package jtrazelo.dcs;

import java.util.Arrays;
import java.util.List;
import java.util.Objects;
import java.util.Set;

/**
 * A record kept as it was read: {@code LABEL=value}. A document keeps the records of labels this
 * program does not interpret (vendor records, prescription, lens and edging data...) in this form
 * and writes them back unchanged.
 *
 * @param label the label: at least one character, printable ASCII without space, '=' or ';', and
 *     none of the labels {@link DcsParser} interprets
 * @param value everything after the '=': any characters up to U+00FF except CR and LF
 */
public record DcsRecord(String label, String value) {
    /** Labels that the reader interprets; a kept record never carries one of them. */
    static final Set<String> INTERPRETED = Set.of("JOB", "DEV", "VEN", "FTYP", "ETYP", "TRCFMT", "R",
            "A", "HBOX", "VBOX", "CIRC", "FCRV", "DBL", "DRILLE");

    /**
     * Checks label and value.
     *
     * @param label the label (see the class description)
     * @param value the value
     * @throws IllegalArgumentException when either does not fit
     */
    public DcsRecord {
        String why = labelProblem(Objects.requireNonNull(label, "label"));
        if (why != null) {
            throw new IllegalArgumentException(why);
        }
        if (INTERPRETED.contains(label)) {
            throw new IllegalArgumentException(label + " is interpreted, not kept as a record");
        }
        if (!isLine(Objects.requireNonNull(value, "value"))) {
            throw new IllegalArgumentException("a record value holds a line end or a character above U+00FF");
        }
    }

    /** {@return the values: the value split at each ';' (an empty value gives one empty field)} */
    public List<String> fields() {
        return Arrays.asList(value.split(";", -1));
    }

    /** {@return the record as written, without the line end} */
    public String text() {
        return label + "=" + value;
    }

    @Override
    public String toString() {
        return text();
    }

    /** {@return why {@code label} cannot be a label, or null when it can} */
    static String labelProblem(String label) {
        if (label.isEmpty()) {
            return "the record has no label";
        }
        for (int i = 0; i < label.length(); i++) {
            char c = label.charAt(i);
            if (c <= 0x20 || c >= 0x7F || c == ';' || c == '=') {
                return "bad label \"" + printable(label) + "\" (printable ASCII without space or ';')";
            }
        }
        return null;
    }

    /** {@return true when {@code text} fits on one line of an ISO-8859-1 file} */
    static boolean isLine(String text) {
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c == '\r' || c == '\n' || c > 0xFF) {
                return false;
            }
        }
        return true;
    }

    /**
     * Returns true when {@code text} is a single value of a record this program interprets:
     * printable characters of ISO-8859-1 (ASCII 0x20 to 0x7E, or 0xA0 to 0xFF), no ';'.
     */
    static boolean isValueText(String text) {
        for (int i = 0; i < text.length(); i++) {
            if (!isPrintable(text.charAt(i)) || text.charAt(i) == ';') {
                return false;
            }
        }
        return true;
    }

    static boolean isPrintable(char c) {
        return (c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF);
    }

    /** {@return {@code text} for a message: control characters as \\xNN, cut after 40 characters} */
    static String printable(String text) {
        StringBuilder out = new StringBuilder();
        for (int i = 0; i < text.length() && i < 40; i++) {
            char c = text.charAt(i);
            if (c >= 0x20 && c <= 0x7E) {
                out.append(c);
            } else {
                out.append(String.format("\\x%02X", (int) c));
            }
        }
        return text.length() > 40 ? out + "..." : out.toString();
    }
}
