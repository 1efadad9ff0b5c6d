package jtztests.deploy;

import puente.ScanMontura;

/** Run in a JVM whose class registry is broken: prints what creating the component threw. */
public final class CreationProbe {
    private CreationProbe() {}

    public static void main(String[] args) {
        try (ScanMontura component = ScanMontura.create()) {
            System.out.println("created " + component.isBound());
        } catch (RuntimeException e) {
            System.out.println(e);
        }
    }
}
