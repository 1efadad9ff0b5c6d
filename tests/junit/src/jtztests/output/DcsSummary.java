package jtztests.output;

import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.stream.Collectors;
import jtrazelo.dcs.DcsDocument;
import jtrazelo.dcs.DcsHole;
import jtrazelo.dcs.DcsRecord;
import jtrazelo.dcs.DcsTrace;
import jtrazelo.tracer.Eye;

/** A document in one line, for tables of expected readings: only what it holds, in a fixed order. */
final class DcsSummary {
    private DcsSummary() {}

    static String of(DcsDocument d) {
        List<String> parts = new ArrayList<>();
        d.job().ifPresent(v -> parts.add("job " + v));
        d.device().ifPresent(v -> parts.add("dev " + v));
        d.vendor().ifPresent(v -> parts.add("ven " + v));
        d.frameType().ifPresent(v -> parts.add("ftyp " + v));
        if (d.edgeType(Eye.RIGHT).isPresent() || d.edgeType(Eye.LEFT).isPresent()) {
            parts.add("etyp " + code(d, Eye.RIGHT) + ";" + code(d, Eye.LEFT));
        }
        for (DcsTrace t : d.traces()) {
            StringBuilder s = new StringBuilder("trace ").append(t.side()).append(' ').append(t.type())
                    .append(' ').append(t.count()).append(' ').append(t.angleMode());
            if (!t.extraFields().isEmpty()) {
                s.append(" ;").append(String.join(";", t.extraFields()));
            }
            t.note().ifPresent(n -> s.append(' ').append(n));
            if (!t.records().isEmpty()) {
                s.append(" +").append(t.records().stream().map(DcsRecord::label).collect(Collectors.joining(",")));
            }
            parts.add(s.toString());
        }
        for (DcsDocument.Figure f : DcsDocument.Figure.values()) {
            double r = d.figure(f, Eye.RIGHT);
            double l = d.figure(f, Eye.LEFT);
            if (!Double.isNaN(r) || !Double.isNaN(l)) {
                parts.add(f.name().toLowerCase(Locale.ROOT) + " " + n(r) + ";" + n(l));
            }
        }
        if (!Double.isNaN(d.dbl())) {
            parts.add("dbl " + n(d.dbl()));
        }
        for (DcsHole h : d.holes()) {
            String more = h.more().isEmpty() ? "" : " " + String.join(" ", h.more());
            parts.add("hole " + h.side() + " " + h.reference() + " " + n(h.x()) + " " + n(h.y()) + " "
                    + n(h.diameter()) + more);
        }
        if (!d.header().isEmpty() || !d.records().isEmpty()) {
            String kept = d.header().stream().map(DcsRecord::text).collect(Collectors.joining(" "));
            if (!d.records().isEmpty()) {
                kept += " / " + d.records().stream().map(DcsRecord::label).collect(Collectors.joining(" "));
            }
            parts.add("kept " + kept.strip());
        }
        return String.join(" | ", parts);
    }

    private static String code(DcsDocument d, Eye eye) {
        return d.edgeType(eye).isPresent() ? String.valueOf(d.edgeType(eye).getAsInt()) : "?";
    }

    private static String n(double v) {
        return Double.isNaN(v) ? "?" : String.format(Locale.ROOT, "%.2f", v);
    }
}
