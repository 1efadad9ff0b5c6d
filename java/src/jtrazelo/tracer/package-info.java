/**
 * The frame tracer as a whole: open it, scan, read what it measured, close it.
 *
 * <pre>{@code
 * TracerSettings settings = TracerSettings.builder().port(3).speed(8).eye(Eye.LEFT).build();
 * try (Tracer tracer = Tracer.open(settings)) {
 *     FrameTrace trace = tracer.scan((percent, message) -> System.out.println(percent + "%"));
 *     System.out.println(trace.boxWidth() + " x " + trace.boxHeight() + " mm, DBL " + trace.dbl());
 * } catch (ScanFailedException e) {
 *     System.out.println("no trace: " + e.reason());
 * } catch (TracerException e) {
 *     System.out.println("the tracer failed: " + e.getMessage());
 * }
 * }</pre>
 *
 * <p>{@link jtrazelo.tracer.TracerSettings} checks port, speed, mode and time-out when built;
 * {@link jtrazelo.tracer.Tracer} opens the device, scans ({@link jtrazelo.tracer.Tracer#cancel()}
 * from another thread stops a scan) and closes; {@link jtrazelo.tracer.FrameTrace} holds the
 * outline, box, DBL, perimeter and drill holes, with the coordinate conventions every class here
 * follows. Failures are {@link jtrazelo.tracer.TracerException}s: not ready
 * ({@link jtrazelo.tracer.DeviceNotReadyException}), a scan without a trace
 * ({@link jtrazelo.tracer.ScanFailedException}, with a reason), cancelled
 * ({@link jtrazelo.tracer.ScanCancelledException}).
 */
package jtrazelo.tracer;
