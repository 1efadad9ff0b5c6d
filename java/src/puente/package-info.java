/**
 * The wrappers of the {@code ScanMontura} component: start here for the component itself.
 *
 * <ul>
 *   <li>{@link puente.ScanMontura}: the component; its factories {@link puente.ScanMontura#create()},
 *       {@link puente.ScanMontura#getActive()} and {@link puente.ScanMontura#attachOrCreate()}
 *       make a bound wrapper, and {@link puente.ScanMontura#dispatch()} its dispatch interface;
 *   <li>{@link puente.IScanMontura}: the component's members, the edit control's and the frame
 *       tracer's, one Java method each;
 *   <li>events: {@link puente.ScanMontura#onChange(Runnable)},
 *       {@link puente.ScanMontura#onKeyPress(java.util.function.Consumer)} and their siblings, or a
 *       whole {@link puente.ScanMonturaListener}, each returning a {@link puente.Registration} to
 *       close; what a listener throws goes to an {@link puente.EventErrorHandler};
 *   <li>the enumerations of the edit control's properties ({@code Tx...}).
 * </ul>
 *
 * <p>Close every wrapper and registration when done (try-with-resources). Members whose names
 * start with {@code __JCom} or {@code __Remote}, and the connection-level classes
 * {@link puente.IScanMonturaEvents} and {@link puente.ServerSideListener}, serve programs that
 * were written for the runtime's own conventions; they are <b>not for new applications</b>, which
 * use the factories and typed listeners above. For the tracer as a whole, see
 * {@code jtrazelo.tracer}.
 */
package puente;
