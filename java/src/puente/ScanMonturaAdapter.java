package puente;

/**
 * A {@link IScanMonturaEvents} listener with every event method and both failure callbacks
 * present and empty: override the ones you need. Events arrive on the component's thread.
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

    /** The listener has no method for {@code eventName}; {@code message} says why. */
    public void JComOnEventError(String eventName, String message) {}

    /** The method for {@code eventName} threw {@code exception}. */
    public void JComOnEventException(String eventName, Throwable exception) {}
}
