package puente;

/**
 * A typed listener of the component's events: one method per event, each doing nothing unless
 * overridden. Register it with {@link ScanMontura#addListener(ScanMonturaListener)}, or register
 * a lambda for a single event with {@link ScanMontura#onChange(Runnable)} and its siblings; each
 * registration returns a {@link Registration} whose {@link Registration#close()} ends exactly that
 * registration.
 *
 * <pre>{@code
 * try (Registration changes = component.onChange(() -> System.out.println("changed"));
 *      Registration keys = component.onKeyPress(key -> key.replace(Character.toUpperCase(key.key())))) {
 *     ...
 * }
 * }</pre>
 *
 * <p>The methods are called on the thread the event arrives on, or through the registration's
 * executor: see <a href="IScanMonturaEvents.html#threads">the thread rules</a>. What a method
 * throws goes to the component's {@link EventErrorHandler}; the component never sees it.
 */
public interface ScanMonturaListener {
    /** The control's text changed. */
    default void onChange() {}

    /** The control was clicked. */
    default void onClick() {}

    /** The control was double-clicked. */
    default void onDblClick() {}

    /**
     * A key was typed into the control; the listener may replace or swallow it.
     *
     * @param key the key, before the control applies it
     */
    default void onKeyPress(KeyPress key) {}
}
