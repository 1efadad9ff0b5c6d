package ezjcom;

/**
 * An object that receives the events of a COM object. {@link #eventId} holds the native event sink
 * that stands for it at the component (as a 32-bit address; 0 when it has none) together with the
 * sink's creation reference; {@link JComObject#__JComUnadvise(JComEventListener, int)} gives that
 * reference up and clears the field.
 */
public class JComEventListener extends JComObject {
    /** The address of this listener's native event sink, or 0. Written by native code. */
    public int eventId;

    /** Makes a listener without an event sink. */
    public JComEventListener() {}
}
