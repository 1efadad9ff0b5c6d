package ezjcom;

/**
 * A native library that the Java classes need could not be loaded: it is not in any folder of
 * {@code java.library.path}, or it is there but does not fit this JVM (a 32-bit DLL in a 64-bit
 * JVM, for example), or a library it needs is missing. The message names the library, the
 * folders searched and what the JVM reported; {@link #getCause()} is the JVM's own
 * {@link UnsatisfiedLinkError}.
 *
 * <p>Every attempt to use the classes that need the library throws a new instance of this error,
 * the first and every later one alike.
 */
public final class NativeLibraryError extends UnsatisfiedLinkError {
    private static final long serialVersionUID = 1L;

    /** The library's name. */
    private final String libraryName;
    /** The value of java.library.path searched. */
    private final String libraryPath;

    NativeLibraryError(String libraryName, String libraryPath, UnsatisfiedLinkError cause) {
        super("cannot load the native library " + libraryName + " ("
                + System.mapLibraryName(libraryName) + "): " + cause.getMessage()
                + "; java.library.path is \"" + libraryPath + "\"");
        this.libraryName = libraryName;
        this.libraryPath = libraryPath;
        initCause(cause);
    }

    /**
     * Returns the library's name as {@link System#loadLibrary(String)} takes it, e.g.
     * {@code "JTrazelo"}.
     *
     * @return the library's name
     */
    public String libraryName() {
        return libraryName;
    }

    /**
     * Returns the value of {@code java.library.path} when the library was looked for.
     *
     * @return the folders searched, as the system property gives them
     */
    public String libraryPath() {
        return libraryPath;
    }
}
