package jtzbench;

import java.util.List;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import puente.IScanMontura;
import puente.ScanMontura;

/**
 * getBoxH and setText from callers in each kind of apartment: a thread in none, one in the
 * multithreaded apartment, one in a single-threaded apartment (whose calls the runtime hands to
 * its own thread). Each caller is a thread of its own that stays in its apartment for the whole
 * fork; its loops are timed there with the wall clock, since a single-threaded caller's call
 * runs on another thread. The baseline is the direct Invoke on the same pointer.
 */
final class ApartmentSuite {
    private static final String[] CALLERS = {"no apartment", "MTA", "STA"};
    private static final int DISPID_BOX_H = 51;
    private static final int DISPID_TEXT = -517;
    private static final String TEXT = "Hello";

    private final IScanMontura device = ScanMontura.create().dispatch();
    private final Probe probe = Probe.instance();
    private float floats;

    ApartmentSuite() {
        device.setText(TEXT);
    }

    List<Case> cases() {
        ExecutorService none = caller(-1);
        ExecutorService mta = caller(0);
        ExecutorService sta = caller(1);
        ExecutorService[] threads = {none, mta, sta};
        List<Case> cases = new java.util.ArrayList<>();
        cases.add(new Case(MemberSuite.EMPTY, n -> on(none, () -> {
            long start = Probe.now();
            float sum = 0;
            for (int i = 0; i < n; i++) {
                sum += probe.empty();
            }
            long elapsed = Probe.now() - start;
            floats += sum;
            return elapsed;
        })));
        cases.add(new Case("Invoke getBoxH", n -> on(none, () -> Probe.invokeGet(device, DISPID_BOX_H, false, n))));
        cases.add(new Case("Invoke setText", n -> on(none, () -> Probe.invokePutString(device, DISPID_TEXT, TEXT, n))));
        cases.add(new Case(MemberSuite.TO_BSTR, n -> Probe.toBstr(TEXT, n)));
        for (int t = 0; t < CALLERS.length; t++) {
            ExecutorService thread = threads[t];
            cases.add(new Case("getBoxH, " + CALLERS[t], n -> on(thread, () -> {
                long start = Probe.now();
                float sum = 0;
                for (int i = 0; i < n; i++) {
                    sum += device.getBoxH();
                }
                long elapsed = Probe.now() - start;
                floats += sum;
                return elapsed;
            })));
            cases.add(new Case("setText, " + CALLERS[t], n -> on(thread, () -> {
                long start = Probe.now();
                for (int i = 0; i < n; i++) {
                    device.setText(TEXT);
                }
                return Probe.now() - start;
            })));
        }
        return cases;
    }

    static List<Ratio> ratios() {
        List<Ratio> ratios = new java.util.ArrayList<>();
        for (String caller : CALLERS) {
            ratios.add(new Ratio("getBoxH, " + caller + ": bridge / (empty + Invoke)", Double.NaN,
                    m -> m.get("getBoxH, " + caller) / (m.get(MemberSuite.EMPTY) + m.get("Invoke getBoxH"))));
            ratios.add(new Ratio("setText, " + caller + ": (bridge - conversion) / (empty + Invoke)", Double.NaN,
                    m -> (m.get("setText, " + caller) - m.get(MemberSuite.TO_BSTR))
                            / (m.get(MemberSuite.EMPTY) + m.get("Invoke setText"))));
        }
        return ratios;
    }

    // A caller thread that joins its apartment once (-1: none, 0: the MTA, 1: an STA) and stays.
    private static ExecutorService caller(int apartment) {
        ExecutorService thread = Executors.newSingleThreadExecutor(r -> {
            Thread t = new Thread(r, "bench caller " + apartment);
            t.setDaemon(true);
            return t;
        });
        if (apartment >= 0) {
            int hr = on(thread, () -> (long) Probe.joinApartment(apartment == 1)).intValue();
            if (hr < 0) {
                throw new IllegalStateException("CoInitializeEx failed: " + Integer.toHexString(hr));
            }
        }
        return thread;
    }

    private static Long on(ExecutorService thread, java.util.concurrent.Callable<Long> loop) {
        Future<Long> f = thread.submit(loop);
        try {
            return f.get();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException(e);
        } catch (ExecutionException e) {
            throw new IllegalStateException(e.getCause());
        }
    }

    /** Keeps the results alive. */
    @Override
    public String toString() {
        return Float.toString(floats);
    }
}
