package jtrazelo.svg;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;

/**
 * Draws traces as SVG pictures at true size: one user unit is one millimetre, the picture's width
 * and height are given in mm. Everything is drawn as {@link FrameTrace}'s conventions describe it,
 * seen from the front, as one faces the wearer, with y turned from the trace's "up" to SVG's "down":
 * the right lens is on the left of the picture and its nasal side on its right, towards the bridge.
 *
 * <p>Each lens shows its outline as a closed path, its box as a dashed rectangle, the box centre as
 * a small cross, the drill holes as circles, the words "nasal" and "temporal" over the two sides of
 * its box and a caption ("Right lens (R)"). {@link #toSvg(FrameTrace, FrameTrace, String)} puts the
 * two lenses of a frame side by side, their boxes DBL apart with the distance marked between them;
 * {@link #toSvg(FrameTrace)} draws one lens. Lines of text state the viewpoint and the figures.
 *
 * <p>Elements carry classes for the programs that read the picture: {@code lens} groups (with
 * {@code data-eye} R or L), {@code outline}, {@code box}, {@code centre}, {@code hole},
 * {@code side-label} (with {@code data-side} nasal or temporal), {@code caption}, {@code dbl} and
 * {@code label}.
 */
public final class SvgWriter {
    private static final double MARGIN = 10;
    private static final double LABEL_LINE = 5;
    private static final double FONT = 3.5;
    private static final double SMALL_FONT = 2.8;
    /** Room above a box for the nasal and temporal words. */
    private static final double SIDE_ROOM = 5;
    /** Room below a box for the caption (and the DBL mark). */
    private static final double CAPTION_ROOM = 8;
    /** Narrowest picture, wide enough for the labels. */
    private static final double MIN_WIDTH = 70;
    /** Width of a character of the labels, on average, as a share of the font size. */
    private static final double CHARACTER_WIDTH = 0.56;
    /** The viewpoint, stated in every picture. */
    public static final String VIEWPOINT = "Seen from the front, facing the wearer";

    private SvgWriter() {}

    /**
     * Returns the picture of one lens as SVG text.
     *
     * @param trace the lens's trace
     * @return the SVG text
     */
    public static String toSvg(FrameTrace trace) {
        FrameTrace.Box box = trace.computedBox();
        Picture picture = new Picture(box.minX(), box.maxX(), box.minY(), box.maxY());
        picture.title("Frame trace, " + eyeName(trace.eye()) + " lens, " + trace.pointCount() + " points");
        picture.lens(trace, 0);
        picture.labels(List.of(
                VIEWPOINT,
                String.format(Locale.ROOT, "Box %.2f x %.2f mm (%s lens)", trace.boxWidth(), trace.boxHeight(),
                        eyeName(trace.eye())),
                String.format(Locale.ROOT, "DBL %.2f mm", trace.dbl()),
                String.format(Locale.ROOT, "Perimeter %.2f mm", trace.perimeter())));
        return picture.finish();
    }

    /**
     * Returns the picture of a frame's two lenses side by side as SVG text: the right lens on the
     * left of the picture, the left lens on its right, their boxes DBL apart ({@code right}'s DBL; 0
     * when unknown).
     *
     * @param right the right lens's trace
     * @param left the left lens's trace
     * @param job the job name for the title, or null
     * @return the SVG text
     * @throws IllegalArgumentException when the traces are not of the right and the left eye
     */
    public static String toSvg(FrameTrace right, FrameTrace left, String job) {
        if (right.eye() != Eye.RIGHT || left.eye() != Eye.LEFT) {
            throw new IllegalArgumentException("need a right and a left trace, not " + right.eye() + " and "
                    + left.eye());
        }
        double dbl = Double.isFinite(right.dbl()) && right.dbl() > 0 ? right.dbl() : 0;
        FrameTrace.Box r = right.computedBox();
        FrameTrace.Box l = left.computedBox();
        // The frame's centre, mid-bridge, is x = 0: each lens's nasal box side is DBL/2 from it.
        double rightCentre = -dbl / 2 - r.maxX();
        double leftCentre = dbl / 2 - l.minX();
        Picture picture = new Picture(rightCentre + r.minX(), leftCentre + l.maxX(),
                Math.min(r.minY(), l.minY()), Math.max(r.maxY(), l.maxY()));
        picture.title("Frame trace" + (job == null ? "" : " of job " + job) + ", both lenses, seen from the front");
        picture.lens(right, rightCentre);
        picture.lens(left, leftCentre);
        picture.dbl(-dbl / 2, dbl / 2, Math.min(r.minY(), l.minY()), dbl);
        if (job != null) {
            picture.labels(List.of("Job " + job));
        }
        picture.labels(List.of(
                VIEWPOINT + ": the right lens is on the left",
                String.format(Locale.ROOT, "Right box %.2f x %.2f mm, left box %.2f x %.2f mm",
                        right.boxWidth(), right.boxHeight(), left.boxWidth(), left.boxHeight()),
                String.format(Locale.ROOT, "DBL %.2f mm, distance between centres %.2f mm", right.dbl(),
                        right.distanceBetweenCentres()),
                String.format(Locale.ROOT, "Perimeter %.2f mm (right), %.2f mm (left); base %.2f D",
                        right.perimeter(), left.perimeter(), right.baseCurve()),
                String.format(Locale.ROOT, "Drill holes %d (right), %d (left)", right.drillHoles().size(),
                        left.drillHoles().size())));
        return picture.finish();
    }

    /**
     * Writes the picture of one lens to a file, replacing it.
     *
     * @param trace the lens's trace
     * @param path the file
     * @throws IOException when the file cannot be written
     */
    public static void write(FrameTrace trace, Path path) throws IOException {
        Files.writeString(path, toSvg(trace), StandardCharsets.UTF_8);
    }

    /** Builds one picture: the content's extent is known first, the text grows as lenses are added. */
    private static final class Picture {
        private final double minX;
        private final double contentWidth;
        private final double top;
        private final double textTop;
        private final StringBuilder body = new StringBuilder();
        private final List<String> labels = new ArrayList<>();
        private String title = "";

        /** A picture of content from minX to maxX and minY to maxY, mm, in trace axes (y up). */
        Picture(double minX, double maxX, double minY, double maxY) {
            this.minX = minX;
            contentWidth = maxX - minX + 2 * MARGIN;
            top = -maxY - SIDE_ROOM - MARGIN;
            textTop = -minY + CAPTION_ROOM + MARGIN / 2;
        }

        void title(String text) {
            title = text;
        }

        /** Draws {@code trace} with its box centre at x = {@code cx}. */
        void lens(FrameTrace trace, double cx) {
            FrameTrace.Box box = trace.computedBox();
            boolean right = trace.eye() == Eye.RIGHT;
            body.append("  <g class=\"lens\" data-eye=\"").append(trace.eye().letter()).append("\">\n");
            body.append(String.format(Locale.ROOT,
                    "    <rect class=\"box\" x=\"%s\" y=\"%s\" width=\"%s\" height=\"%s\" fill=\"none\" "
                            + "stroke=\"#888888\" stroke-width=\"0.2\" stroke-dasharray=\"1.5 1\"/>\n",
                    n(cx + box.minX()), n(-box.maxY()), n(box.width()), n(box.height())));
            body.append("    <path class=\"outline\" fill=\"none\" stroke=\"#1040a0\" stroke-width=\"0.35\" "
                    + "stroke-linejoin=\"round\" d=\"");
            for (int i = 0; i < trace.pointCount(); i++) {
                body.append(i == 0 ? "M" : " L").append(n(cx + trace.x(i))).append(' ').append(n(-trace.y(i)));
            }
            body.append(" Z\"/>\n");
            body.append(String.format(Locale.ROOT,
                    "    <path class=\"centre\" stroke=\"#888888\" stroke-width=\"0.15\" "
                            + "d=\"M%s 0 H%s M%s %s V%s\"/>\n",
                    n(cx - 1.5), n(cx + 1.5), n(cx), n(-1.5), n(1.5)));
            for (DrillHole hole : trace.drillHoles()) {
                body.append(String.format(Locale.ROOT,
                        "    <circle class=\"hole\" cx=\"%s\" cy=\"%s\" r=\"%s\" fill=\"none\" stroke=\"#a02010\" "
                                + "stroke-width=\"0.25\"/>\n",
                        n(cx + hole.x()), n(-hole.y()), n(hole.diameter() / 2)));
            }
            // The nasal side is towards 3 o'clock for the right lens, 9 o'clock for the left one.
            double nasalX = cx + (right ? box.maxX() : box.minX());
            double temporalX = cx + (right ? box.minX() : box.maxX());
            double wordsY = -box.maxY() - 1.5;
            sideLabel("nasal", nasalX, wordsY, right ? "end" : "start");
            sideLabel("temporal", temporalX, wordsY, right ? "start" : "end");
            body.append(String.format(Locale.ROOT,
                    "    <text class=\"caption\" x=\"%s\" y=\"%s\" text-anchor=\"middle\" font-family=\"sans-serif\" "
                            + "font-size=\"%s\">%s lens (%s)</text>\n",
                    n(cx + (box.minX() + box.maxX()) / 2), n(-box.minY() + CAPTION_ROOM - 2.5), n(FONT),
                    right ? "Right" : "Left", trace.eye().letter()));
            body.append("  </g>\n");
        }

        private void sideLabel(String side, double x, double y, String anchor) {
            body.append(String.format(Locale.ROOT,
                    "    <text class=\"side-label\" data-side=\"%s\" x=\"%s\" y=\"%s\" text-anchor=\"%s\" "
                            + "font-family=\"sans-serif\" font-size=\"%s\" fill=\"#555555\">%s</text>\n",
                    side, n(x), n(y), anchor, n(SMALL_FONT), side));
        }

        /** Marks the distance between the nasal box sides, from x1 to x2, below the lower box. */
        void dbl(double x1, double x2, double minY, double dbl) {
            double y = -minY + 2;
            body.append(String.format(Locale.ROOT,
                    "  <g class=\"dbl\">\n    <path stroke=\"#444444\" stroke-width=\"0.2\" fill=\"none\" "
                            + "d=\"M%s %s V%s M%s %s V%s M%s %s H%s\"/>\n",
                    n(x1), n(y - 1), n(y + 1), n(x2), n(y - 1), n(y + 1), n(x1), n(y), n(x2)));
            body.append(String.format(Locale.ROOT,
                    "    <text x=\"0\" y=\"%s\" text-anchor=\"middle\" font-family=\"sans-serif\" font-size=\"%s\">"
                            + "DBL %.2f</text>\n  </g>\n",
                    n(y + 3.5), n(SMALL_FONT), dbl));
        }

        void labels(List<String> lines) {
            labels.addAll(lines);
        }

        String finish() {
            int longest = labels.stream().mapToInt(String::length).max().orElse(0);
            double width = Math.max(Math.max(contentWidth, MIN_WIDTH), longest * FONT * CHARACTER_WIDTH + MARGIN);
            double left = minX - MARGIN - (width - contentWidth) / 2;
            double height = textTop - top + labels.size() * LABEL_LINE + MARGIN / 2;
            StringBuilder svg = new StringBuilder();
            svg.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
            svg.append(String.format(Locale.ROOT,
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%smm\" height=\"%smm\" "
                            + "viewBox=\"%s %s %s %s\">\n",
                    n(width), n(height), n(left), n(top), n(width), n(height)));
            svg.append("  <title>").append(escape(title)).append("</title>\n");
            svg.append(String.format(Locale.ROOT,
                    "  <rect x=\"%s\" y=\"%s\" width=\"%s\" height=\"%s\" fill=\"white\"/>\n",
                    n(left), n(top), n(width), n(height)));
            svg.append(body);
            for (int i = 0; i < labels.size(); i++) {
                svg.append(String.format(Locale.ROOT,
                        "  <text class=\"label\" x=\"%s\" y=\"%s\" font-family=\"sans-serif\" "
                                + "font-size=\"%s\">%s</text>\n",
                        n(left + MARGIN / 2), n(textTop + (i + 1) * LABEL_LINE), n(FONT), escape(labels.get(i))));
            }
            svg.append("</svg>\n");
            return svg.toString();
        }
    }

    private static String eyeName(Eye eye) {
        return eye == Eye.RIGHT ? "right" : "left";
    }

    private static String escape(String text) {
        return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace("\"", "&quot;");
    }

    private static String n(double value) {
        String text = String.format(Locale.ROOT, "%.3f", value);
        // Shortest form: 12.500 -> 12.5, 3.000 -> 3, -0.000 -> 0.
        text = text.replaceAll("0+$", "").replaceAll("\\.$", "");
        return text.equals("-0") ? "0" : text;
    }
}
