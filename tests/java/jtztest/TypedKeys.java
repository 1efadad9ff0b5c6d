package jtztest;

import java.util.ArrayList;
import java.util.List;
import puente.Registration;
import puente.ScanMontura;

/**
 * A typed key listener on a component: records each key as "U+XXXX" (or "none"), turns 'x' into
 * 'X' and swallows '#'.
 */
public final class TypedKeys {
    private final List<String> seen = new ArrayList<>();
    private final Registration registration;

    public TypedKeys(ScanMontura component) {
        registration = component.onKeyPress(key -> {
            synchronized (seen) {
                seen.add(key.hasKey() ? String.format("U+%04X", (int) key.key()) : "none");
            }
            if (key.hasKey() && key.key() == 'x') key.replace('X');
            if (key.hasKey() && key.key() == '#') key.swallow();
        });
    }

    /** The keys seen so far, separated by blanks. */
    public String seen() {
        synchronized (seen) {
            return String.join(" ", seen);
        }
    }

    public void close() {
        registration.close();
    }
}
