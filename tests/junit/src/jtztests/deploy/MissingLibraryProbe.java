package jtztests.deploy;

import jtrazelo.tracer.Tracer;
import jtrazelo.tracer.TracerSettings;
import puente.IScanMontura;
import puente.ScanMontura;
import puente.ScanMonturaAdapter;

/**
 * Run in a JVM whose java.library.path holds no native library: makes the first and later uses of
 * the classes a program makes, and prints what each threw, one line each.
 */
public final class MissingLibraryProbe {
    private MissingLibraryProbe() {}

    private interface Use {
        void run() throws Exception;
    }

    public static void main(String[] args) {
        Use[] uses = {
            ScanMontura::create,
            ScanMontura::create,
            IScanMontura::new,
            () -> new ScanMonturaAdapter() {},
            () -> Tracer.open(TracerSettings.builder().build()),
        };
        for (Use use : uses) {
            try {
                use.run();
                System.out.println("no exception");
            } catch (Throwable e) {
                System.out.println(e.getClass().getName() + ": " + e.getMessage());
            }
        }
    }
}
