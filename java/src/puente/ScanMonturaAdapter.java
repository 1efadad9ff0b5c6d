package puente;

/**
 * A {@link IScanMonturaEvents} listener with every event method present and empty: override the
 * ones you need. The failure callbacks are those of {@link IScanMonturaEvents}, which report to the
 * listener's {@link EventErrorHandler}. Events arrive on the component's thread.
 */
public abstract class ScanMonturaAdapter extends IScanMonturaEvents {
    /** Makes a listener; connect it with {@link #connect(ScanMontura)}. */
    protected ScanMonturaAdapter() {}

    /** The control's text changed. */
    public void OnChange() {}

    /** The control was clicked. */
    public void OnClick() {}

    /** The control was double-clicked. */
    public void OnDblClick() {}

    /**
     * A key was typed into the control.
     *
     * @param key the key as the bridge delivers it; may be null
     */
    public void OnKeyPress(byte[] key) {}
}
