package jtzbench;

import java.util.List;
import puente.IScanMontura;
import puente.ScanMontura;

/**
 * Member calls through the bridge, measured in Java loops, against the same Invoke made by a
 * native loop on the same component, and the value conversions on their own.
 */
final class MemberSuite {
    static final String EMPTY = "empty native";
    static final String READ_COM_ID = "native reading the com-id";
    static final String USE_COM_ID = "native taking a use of the com-id";
    static final String BOX_H = "getBoxH";
    static final String STATUS = "getStatus";
    static final String SET_TEXT = "setText";
    static final String GET_TEXT = "getText";
    static final String COLOR = "getColor";
    static final String INVOKE = "Invoke ";
    static final String HELPER = "ezjcomInvokeHelper getBoxH";
    static final String C_LOOP = "getBoxH native from a C loop";
    static final String TO_BSTR = "JstringToBstr + VariantClear";
    static final String FROM_BSTR = "BstrToJstr";
    static final String TO_COLOR = "OLE_COLOR -> java.awt.Color";

    /** The short string of the string members; setting it again changes nothing. */
    static final String TEXT = "Hello";

    private static final int DISPID_BOX_H = 51;
    private static final int DISPID_STATUS = 57;
    private static final int DISPID_TEXT = -517;
    private static final int DISPID_COLOR = -501;
    /** The component's colour until one is set: the system colour "window". */
    private static final int SYSTEM_WINDOW = 0x80000005;

    private final IScanMontura device;
    private final Probe probe = Probe.instance();
    // Results go here so that no loop is without an effect.
    private float floats;
    private long longs;
    private Object objects;

    MemberSuite() {
        device = ScanMontura.create().dispatch();
        device.setText(TEXT);
        if (device.getColor() == null || Probe.invokeGet(device, DISPID_COLOR, false, 1) < 0) {
            throw new IllegalStateException("the component's colour cannot be read");
        }
    }

    List<Case> cases() {
        // Each bridge call next to its baselines: the cases of an iteration run in this order.
        return List.of(
                new Case(EMPTY, n -> {
                    long start = Probe.now();
                    float sum = 0;
                    for (int i = 0; i < n; i++) {
                        sum += probe.empty();
                    }
                    long elapsed = Probe.now() - start;
                    floats += sum;
                    return elapsed;
                }),
                new Case(READ_COM_ID, n -> {
                    long start = Probe.now();
                    float sum = 0;
                    for (int i = 0; i < n; i++) {
                        sum += probe.readComId(device);
                    }
                    long elapsed = Probe.now() - start;
                    floats += sum;
                    return elapsed;
                }),
                new Case(USE_COM_ID, n -> {
                    long start = Probe.now();
                    float sum = 0;
                    for (int i = 0; i < n; i++) {
                        sum += probe.useComId(device);
                    }
                    long elapsed = Probe.now() - start;
                    floats += sum;
                    return elapsed;
                }),
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
                new Case(INVOKE + BOX_H, n -> Probe.invokeGet(device, DISPID_BOX_H, false, n)),
                new Case(HELPER, n -> Probe.helperGet(device, DISPID_BOX_H, false, n)),
                new Case(C_LOOP, n -> Probe.bridgeGetBoxH(device, n)),
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
                new Case(INVOKE + STATUS, n -> Probe.invokeGet(device, DISPID_STATUS, false, n)),
                new Case(SET_TEXT, n -> {
                    long start = Probe.now();
                    for (int i = 0; i < n; i++) {
                        device.setText(TEXT);
                    }
                    return Probe.now() - start;
                }),
                new Case(INVOKE + SET_TEXT, n -> Probe.invokePutString(device, DISPID_TEXT, TEXT, n)),
                new Case(TO_BSTR, n -> Probe.toBstr(TEXT, n)),
                new Case(GET_TEXT, n -> {
                    long start = Probe.now();
                    long sum = 0;
                    for (int i = 0; i < n; i++) {
                        sum += device.getText().length();
                    }
                    long elapsed = Probe.now() - start;
                    longs += sum;
                    return elapsed;
                }),
                new Case(INVOKE + GET_TEXT, n -> Probe.invokeGet(device, DISPID_TEXT, true, n)),
                new Case(FROM_BSTR, n -> Probe.fromBstr(TEXT, n)),
                new Case(COLOR, n -> {
                    long start = Probe.now();
                    Object last = null;
                    for (int i = 0; i < n; i++) {
                        last = device.getColor();
                    }
                    long elapsed = Probe.now() - start;
                    objects = last;
                    return elapsed;
                }),
                new Case(INVOKE + COLOR, n -> Probe.invokeGet(device, DISPID_COLOR, false, n)),
                new Case(TO_COLOR, n -> Probe.toColor(SYSTEM_WINDOW, n)));
    }

    /** The goals: bridge call against (empty native + direct Invoke), conversions taken off. */
    static List<Ratio> ratios() {
        return List.of(
                numeric(BOX_H),
                numeric(STATUS),
                string(SET_TEXT, TO_BSTR),
                string(GET_TEXT, FROM_BSTR),
                new Ratio(COLOR + ": (bridge - colour conversion) / (empty + Invoke)", Double.NaN,
                        m -> (m.get(COLOR) - m.get(TO_COLOR)) / base(m, COLOR)),
                new Ratio("ezjcomInvokeHelper getBoxH / Invoke getBoxH", Double.NaN,
                        m -> m.get(HELPER) / m.get(INVOKE + BOX_H)),
                new Ratio(C_LOOP + " / Invoke getBoxH", Double.NaN,
                        m -> m.get(C_LOOP) / m.get(INVOKE + BOX_H)),
                new Ratio(BOX_H + ": bridge / (com-id read + helper)", Double.NaN,
                        m -> m.get(BOX_H) / (m.get(READ_COM_ID) + m.get(HELPER))),
                new Ratio("use of the binding - com-id read, ns", Double.NaN,
                        m -> m.get(USE_COM_ID) - m.get(READ_COM_ID)));
    }

    private static Ratio numeric(String member) {
        return new Ratio(member + ": bridge / (empty + Invoke)", 1.1, m -> m.get(member) / base(m, member));
    }

    // "at most 1.1 x (empty + Invoke) plus the string conversion": the conversion is taken off the
    // bridge's time, the rest divided by (empty + Invoke).
    private static Ratio string(String member, String conversion) {
        return new Ratio(member + ": (bridge - conversion) / (empty + Invoke)", 1.1,
                m -> (m.get(member) - m.get(conversion)) / base(m, member));
    }

    private static double base(java.util.Map<String, Double> m, String member) {
        return m.get(EMPTY) + m.get(INVOKE + member);
    }

    /** Keeps the results alive. */
    @Override
    public String toString() {
        return floats + " " + longs + " " + objects;
    }
}
