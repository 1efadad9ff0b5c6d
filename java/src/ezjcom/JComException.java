package ezjcom;

/**
 * A failed COM call: the HRESULT, and where the component gave them, the source and description
 * of the error. The message is {@code "COM error 0x80070057: <description>"}, or just
 * {@code "COM error 0x80070057"} when there is no description.
 */
public class JComException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    /** The failed call's HRESULT. */
    private final int hResult;
    /** The component's name for the error's source, or null. */
    private final String comSource;
    /** The component's description of the error, or null. */
    private final String description;

    /**
     * Makes the exception for a failed call.
     *
     * @param hResult the call's HRESULT
     * @param comSource the component's name for the error's source, or null
     * @param description the component's description of the error, or null
     */
    public JComException(int hResult, String comSource, String description) {
        super(message(hResult, description));
        this.hResult = hResult;
        this.comSource = comSource;
        this.description = description;
    }

    private static String message(int hResult, String description) {
        String text = String.format("COM error 0x%08X", hResult);
        return description == null || description.isEmpty() ? text : text + ": " + description;
    }

    /**
     * Returns the HRESULT of the failed call.
     *
     * @return the HRESULT
     */
    public int getHResult() {
        return hResult;
    }

    /**
     * Returns the error's source as the component named it.
     *
     * @return the source, or null
     */
    public String getComSource() {
        return comSource;
    }

    /**
     * Returns the component's description of the error.
     *
     * @return the description, or null
     */
    public String getDescription() {
        return description;
    }
}
