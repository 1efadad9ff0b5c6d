package jtrazelo.svg;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Locale;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;

/**
 * Draws a {@link FrameTrace} as an SVG picture at true size: one user unit is one millimetre, the
 * picture's width and height are given in mm, and y is turned from the trace's "up" to SVG's
 * "down". It shows the outline as a closed path, its box as a dashed rectangle, the drill holes
 * as circles, and labels with box width and height, DBL and perimeter.
 */
public final class SvgWriter {
    private static final double MARGIN = 10;
    private static final double LABEL_LINE = 5;
    private static final double FONT = 3.5;
    /** Narrowest picture, wide enough for the labels. */
    private static final double MIN_WIDTH = 70;

    private SvgWriter() {}

    /** Returns the picture of {@code trace} as SVG text. */
    public static String toSvg(FrameTrace trace) {
        FrameTrace.Box box = trace.computedBox();
        double left = box.minX() - MARGIN;
        double top = -box.maxY() - MARGIN;
        double width = Math.max(box.width() + 2 * MARGIN, MIN_WIDTH);
        double labels = 3 * LABEL_LINE + MARGIN / 2;
        double height = box.height() + 2 * MARGIN + labels;

        StringBuilder svg = new StringBuilder();
        svg.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
        svg.append(String.format(Locale.ROOT,
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%smm\" height=\"%smm\" viewBox=\"%s %s %s %s\">\n",
                n(width), n(height), n(left), n(top), n(width), n(height)));
        svg.append("  <title>Frame trace, ").append(trace.eye() == Eye.RIGHT ? "right" : "left")
                .append(" eye, ").append(trace.pointCount()).append(" points</title>\n");
        svg.append(String.format(Locale.ROOT,
                "  <rect x=\"%s\" y=\"%s\" width=\"%s\" height=\"%s\" fill=\"white\"/>\n",
                n(left), n(top), n(width), n(height)));

        // The box, dashed, and the outline.
        svg.append(String.format(Locale.ROOT,
                "  <rect class=\"box\" x=\"%s\" y=\"%s\" width=\"%s\" height=\"%s\" fill=\"none\" "
                        + "stroke=\"#888888\" stroke-width=\"0.2\" stroke-dasharray=\"1.5 1\"/>\n",
                n(box.minX()), n(-box.maxY()), n(box.width()), n(box.height())));
        svg.append("  <path class=\"outline\" fill=\"none\" stroke=\"#1040a0\" stroke-width=\"0.35\" "
                + "stroke-linejoin=\"round\" d=\"");
        for (int i = 0; i < trace.pointCount(); i++) {
            svg.append(i == 0 ? "M" : " L").append(n(trace.x(i))).append(' ').append(n(-trace.y(i)));
        }
        svg.append(" Z\"/>\n");

        // The box centre.
        svg.append(String.format(Locale.ROOT,
                "  <path class=\"centre\" stroke=\"#888888\" stroke-width=\"0.15\" d=\"M%s 0 H%s M0 %s V%s\"/>\n",
                n(-1.5), n(1.5), n(-1.5), n(1.5)));

        for (DrillHole hole : trace.drillHoles()) {
            svg.append(String.format(Locale.ROOT,
                    "  <circle class=\"hole\" cx=\"%s\" cy=\"%s\" r=\"%s\" fill=\"none\" stroke=\"#a02010\" "
                            + "stroke-width=\"0.25\"/>\n",
                    n(hole.x()), n(-hole.y()), n(hole.diameter() / 2)));
        }

        double textX = left + MARGIN / 2;
        double textY = -box.minY() + MARGIN + LABEL_LINE;
        String[] lines = {
            String.format(Locale.ROOT, "Box %.2f x %.2f mm (%s eye)", trace.boxWidth(), trace.boxHeight(),
                    trace.eye() == Eye.RIGHT ? "right" : "left"),
            String.format(Locale.ROOT, "DBL %.2f mm", trace.dbl()),
            String.format(Locale.ROOT, "Perimeter %.2f mm", trace.perimeter()),
        };
        for (int i = 0; i < lines.length; i++) {
            svg.append(String.format(Locale.ROOT,
                    "  <text class=\"label\" x=\"%s\" y=\"%s\" font-family=\"sans-serif\" font-size=\"%s\">%s</text>\n",
                    n(textX), n(textY + i * LABEL_LINE), n(FONT), lines[i]));
        }
        svg.append("</svg>\n");
        return svg.toString();
    }

    /** Writes the picture of {@code trace} to the file {@code path}, replacing it. */
    public static void write(FrameTrace trace, Path path) throws IOException {
        Files.writeString(path, toSvg(trace), StandardCharsets.UTF_8);
    }

    private static String n(double value) {
        String text = String.format(Locale.ROOT, "%.3f", value);
        // Shortest form: 12.500 -> 12.5, 3.000 -> 3, -0.000 -> 0.
        text = text.replaceAll("0+$", "").replaceAll("\\.$", "");
        return text.equals("-0") ? "0" : text;
    }
}
