package jtzbench;

import java.util.List;
import puente.IScanMontura;
import puente.ScanMontura;

/**
 * Four member calls, measured in forks whose library path (and class path) decide what they run:
 * the runtime library that ships against its test variant (with the journal and the other test
 * hooks built in, the journal on as the tests run it), or this build against a baseline build.
 */
final class RuntimeSuite {
    static final String BOX_H = "getBoxH";
    static final String STATUS = "getStatus";
    static final String SET_TEXT = "setText";
    static final String GET_TEXT = "getText";

    private final IScanMontura device;
    private float floats;
    private long longs;

    RuntimeSuite() {
        device = ScanMontura.create().dispatch();
        device.setText(MemberSuite.TEXT);
    }

    List<Case> cases() {
        return List.of(
                new Case(BOX_H, n -> {
                    long start = Probe.now();
                    float sum = 0;
                    for (int i = 0; i < n; i++) {
                        sum += device.getBoxH();
                    }
                    long elapsed = Probe.now() - start;
                    floats += sum;
                    return elapsed;
                }),
                new Case(STATUS, n -> {
                    long start = Probe.now();
                    long sum = 0;
                    for (int i = 0; i < n; i++) {
                        sum += device.getStatus();
                    }
                    long elapsed = Probe.now() - start;
                    longs += sum;
                    return elapsed;
                }),
                new Case(SET_TEXT, n -> {
                    long start = Probe.now();
                    for (int i = 0; i < n; i++) {
                        device.setText(MemberSuite.TEXT);  // the text it has: no OnChange
                    }
                    return Probe.now() - start;
                }),
                new Case(GET_TEXT, n -> {
                    long start = Probe.now();
                    long sum = 0;
                    for (int i = 0; i < n; i++) {
                        sum += device.getText().length();
                    }
                    long elapsed = Probe.now() - start;
                    longs += sum;
                    return elapsed;
                }));
    }

    /** Keeps the results alive. */
    @Override
    public String toString() {
        return floats + " " + longs;
    }
}
