package jtzbench;

import puente.ScanMonturaAdapter;

/** A listener that counts its OnChange events (written on the component's thread only). */
public final class CountingListener extends ScanMonturaAdapter {
    long changes;

    @Override
    public void OnChange() {
        changes++;
    }
}
