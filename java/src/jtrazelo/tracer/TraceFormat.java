package jtrazelo.tracer;

import java.util.List;

/**
 * How a component encodes the outline and the drill holes it measured. The tracer reads the raw
 * values ({@code getRadioIni}, {@code getRadioDeltas}, {@code getTaladros}) and hands them to its
 * format, the one place that knows their layout. {@link DeltaTraceFormat} is the format of the
 * ScanMontura component; another component's format plugs in through
 * {@link TracerSettings.Builder#traceFormat(TraceFormat)}.
 */
public interface TraceFormat {
    /**
     * Decodes the outline: the radii, in mm, of points at equally spaced angles, point i at
     * {@code 360 * i / N} degrees counter-clockwise from 3 o'clock about the box centre, seen from
     * the front as {@link FrameTrace} describes.
     *
     * @param initialRadius what {@code getRadioIni} answered
     * @param radiusDeltas what {@code getRadioDeltas} answered
     * @return a new array of at least three radii
     * @throws IllegalArgumentException when the values do not follow the format; the message says
     *     where
     */
    double[] decodeRadii(float initialRadius, String radiusDeltas);

    /**
     * Decodes the drill holes, in the same axes.
     *
     * @param drillHoles what {@code getTaladros} answered
     * @return the holes, possibly none
     * @throws IllegalArgumentException when the value does not follow the format
     */
    List<DrillHole> decodeDrillHoles(String drillHoles);
}
