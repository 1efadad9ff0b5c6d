import java.util.Locale;
import jtrazelo.simulator.SimulatedBench;
import jtrazelo.tracer.FrameTrace;
import jtrazelo.tracer.Tracer;
import jtrazelo.tracer.TracerException;
import jtrazelo.tracer.TracerSettings;
import puente.IScanMontura;
import puente.Registration;
import puente.ScanMontura;

/**
 * Types a job number into the simulated component's edit control, swallowing the '#' key, then
 * traces the frame in the tracer on one port and prints what the component measured, following
 * the scan through the component's own text.
 *
 * <pre>
 * java -Djava.library.path=lib -jar example/jtrazelo-example.jar [port]
 * </pre>
 */
public final class ScanExample {
    private ScanExample() {}

    public static void main(String[] args) {
        int port = args.length > 0 ? Integer.parseInt(args[0]) : 1;
        TracerSettings settings = TracerSettings.builder().port(port).speed(10).build();
        try (ScanMontura component = ScanMontura.create();
                IScanMontura control = component.dispatch();
                Registration keys = component.onKeyPress(key -> {
                    if (key.hasKey() && key.key() == '#') {
                        key.swallow();  // the control never sees '#'
                        System.out.println("  key: '#' swallowed");
                    }
                });
                SimulatedBench bench = SimulatedBench.of(component)) {
            bench.typeText("JOB#7");  // as a person at the keyboard: OnKeyPress per key, then OnChange
            System.out.println("Typed JOB#7, the control holds " + control.getText()
                    + " (key listener open: " + keys.isOpen() + ")");
            try (Registration changes = component.onChange(() -> System.out.println("  component: " + control.getText()));
                    Tracer tracer = Tracer.open(settings, component)) {
                System.out.println("Tracing the frame on port " + port + " (listener open: " + changes.isOpen() + ")");
                FrameTrace trace = tracer.scan();
                System.out.printf(Locale.ROOT, "Box %.2f x %.2f mm, DBL %.2f mm, perimeter %.2f mm, %d points, %d drill holes%n",
                        trace.boxWidth(), trace.boxHeight(), trace.dbl(), trace.perimeter(), trace.pointCount(),
                        trace.drillHoles().size());
            }
        } catch (TracerException e) {
            System.err.println("The tracer failed: " + e.getMessage());
            System.exit(1);
        }
    }
}
