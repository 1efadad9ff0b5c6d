/**
 * The Java side of the Java-COM runtime library {@code EZJcomLib18}: {@link ezjcom.JComObject},
 * the base class of every wrapper, {@link ezjcom.JComException}, the exception of a failed COM
 * call, and {@link ezjcom.NativeLibraryError}, thrown while the native libraries cannot be loaded.
 *
 * <p>Applications use the wrappers of {@code puente} and catch {@link ezjcom.JComException}; the
 * rest of this package is the bridge's machinery. In particular the field
 * {@link ezjcom.JComObject#comId} and every member whose name starts with {@code __JCom} are
 * <b>not for applications</b>: the native bridge reads and writes them, and a program that sets
 * {@code comId} or calls a {@code __JCom} member itself takes the bridge's bookkeeping of COM
 * references into its own hands. Use {@link ezjcom.JComObject#isBound()},
 * {@link ezjcom.JComObject#close()} and the friendly methods of the wrappers instead.
 */
package ezjcom;
