package jtzbench;

import java.util.List;
import puente.IScanMontura;
import puente.ScanMontura;

/**
 * Two member calls, measured once on the runtime library that ships and once on its test variant
 * (with the journal and the other test hooks built in, the journal on as the tests run it): the
 * fork's library path decides which of the two the process loads.
 */
final class RuntimeSuite {
    static final String BOX_H = "getBoxH";
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
