package ezjcom;

/**
 * A native library loaded once, when a class that needs it is initialised, without ever failing
 * that initialisation: a library that cannot be loaded is remembered, and every use of the class
 * then throws a {@link NativeLibraryError} that says why.
 *
 * <pre>{@code
 * private static final NativeLibrary BRIDGE = NativeLibrary.load("JTrazelo");
 *
 * public Wrapper() {
 *     BRIDGE.require();
 * }
 * }</pre>
 */
public final class NativeLibrary {
    private final String name;
    private final String path;
    private final UnsatisfiedLinkError failure;

    private NativeLibrary(String name, String path, UnsatisfiedLinkError failure) {
        this.name = name;
        this.path = path;
        this.failure = failure;
    }

    /**
     * Loads the library with {@link System#loadLibrary(String)}, remembering a failure instead of
     * throwing it.
     *
     * @param name the library's name, without prefix or suffix ({@code "JTrazelo"})
     * @return the library, loaded or not
     */
    public static NativeLibrary load(String name) {
        String path = System.getProperty("java.library.path", "");
        try {
            System.loadLibrary(name);
            return new NativeLibrary(name, path, null);
        } catch (UnsatisfiedLinkError e) {
            return new NativeLibrary(name, path, e);
        }
    }

    /**
     * Returns true when the library was loaded.
     *
     * @return whether {@link #require()} passes
     */
    public boolean isLoaded() {
        return failure == null;
    }

    /**
     * Returns quietly when the library was loaded.
     *
     * @throws NativeLibraryError when it was not (a new instance at every call)
     */
    public void require() {
        if (failure != null) {
            throw new NativeLibraryError(name, path, failure);
        }
    }
}
