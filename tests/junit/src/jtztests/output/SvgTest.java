package jtztests.output;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayInputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import javax.xml.parsers.DocumentBuilderFactory;
import jtrazelo.svg.SvgWriter;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;
import org.junit.jupiter.api.Test;
import org.w3c.dom.Document;
import org.w3c.dom.Element;
import org.w3c.dom.NodeList;

/** The SVG picture of a trace, read back as XML. */
class SvgTest {
    private final FrameTrace trace = Shapes.drilled();
    private final Document svg = parse(SvgWriter.toSvg(trace));

    private static Document parse(String text) {
        try {
            DocumentBuilderFactory factory = DocumentBuilderFactory.newInstance();
            factory.setNamespaceAware(true);
            return factory.newDocumentBuilder().parse(new ByteArrayInputStream(text.getBytes(StandardCharsets.UTF_8)));
        } catch (Exception e) {
            throw new AssertionError("not well-formed XML: " + e, e);
        }
    }

    private Element byClass(String tag, String cls) {
        NodeList nodes = svg.getElementsByTagName(tag);
        for (int i = 0; i < nodes.getLength(); i++) {
            Element e = (Element) nodes.item(i);
            if (cls.equals(e.getAttribute("class"))) {
                return e;
            }
        }
        throw new AssertionError("no <" + tag + " class=\"" + cls + "\">");
    }

    private static double number(Element e, String attribute) {
        return Double.parseDouble(e.getAttribute(attribute));
    }

    @Test
    void pictureIsInMillimetres() {
        Element root = svg.getDocumentElement();
        assertEquals("http://www.w3.org/2000/svg", root.getNamespaceURI());
        String[] viewBox = root.getAttribute("viewBox").split(" ");
        assertEquals(root.getAttribute("width"), viewBox[2] + "mm");
        assertEquals(root.getAttribute("height"), viewBox[3] + "mm");
    }

    @Test
    void outlineHasEveryPointWithYTurnedDown() {
        String d = byClass("path", "outline").getAttribute("d");
        assertTrue(d.startsWith("M") && d.endsWith(" Z"), d);
        String[] points = d.substring(1, d.length() - 2).split(" L");
        assertEquals(trace.pointCount(), points.length);
        int top = trace.pointCount() / 4;  // 90 degrees: straight up
        String[] xy = points[top].split(" ");
        assertEquals(trace.x(top), Double.parseDouble(xy[0]), 0.001);
        assertEquals(-trace.y(top), Double.parseDouble(xy[1]), 0.001);
        assertTrue(Double.parseDouble(xy[1]) < 0, "up in the trace is up in the picture");
    }

    @Test
    void boxIsADashedRectangleAroundTheOutline() {
        Element box = byClass("rect", "box");
        FrameTrace.Box expected = trace.computedBox();
        assertEquals(expected.minX(), number(box, "x"), 0.001);
        assertEquals(-expected.maxY(), number(box, "y"), 0.001);
        assertEquals(expected.width(), number(box, "width"), 0.001);
        assertEquals(expected.height(), number(box, "height"), 0.001);
        assertTrue(!box.getAttribute("stroke-dasharray").isEmpty());
    }

    @Test
    void drillHolesAreCircles() {
        NodeList circles = svg.getElementsByTagName("circle");
        assertEquals(2, circles.getLength());
        Element first = (Element) circles.item(0);
        assertEquals(19.5, number(first, "cx"), 1e-9);
        assertEquals(-4, number(first, "cy"), 1e-9);
        assertEquals(0.7, number(first, "r"), 1e-9);
    }

    @Test
    void labelsGiveTheFigures() {
        NodeList texts = svg.getElementsByTagName("text");
        List<String> labels = new ArrayList<>();
        for (int i = 0; i < texts.getLength(); i++) {
            labels.add(texts.item(i).getTextContent());
        }
        String all = String.join("\n", labels);
        assertTrue(all.contains(String.format(java.util.Locale.ROOT, "Box %.2f x %.2f mm",
                trace.boxWidth(), trace.boxHeight())), all);
        assertTrue(all.contains("DBL 18.50 mm"), all);
        assertTrue(all.contains(String.format(java.util.Locale.ROOT, "Perimeter %.2f mm", trace.perimeter())), all);
    }

    private static List<Element> all(Element within, String tag, String cls) {
        List<Element> found = new ArrayList<>();
        NodeList nodes = within.getElementsByTagName(tag);
        for (int i = 0; i < nodes.getLength(); i++) {
            Element e = (Element) nodes.item(i);
            if (cls.equals(e.getAttribute("class"))) {
                found.add(e);
            }
        }
        return found;
    }

    private static Element lens(Document picture, char eye) {
        for (Element g : all(picture.getDocumentElement(), "g", "lens")) {
            if (g.getAttribute("data-eye").equals(String.valueOf(eye))) {
                return g;
            }
        }
        throw new AssertionError("no lens " + eye);
    }

    private static double sideLabelX(Element lens, String side) {
        for (Element label : all(lens, "text", "side-label")) {
            if (label.getAttribute("data-side").equals(side)) {
                assertEquals(side, label.getTextContent());
                return number(label, "x");
            }
        }
        throw new AssertionError("no " + side + " label");
    }

    /**
     * Seen from the front: the right lens on the left of the picture, its nasal side towards the
     * bridge; the boxes DBL apart about x = 0; holes where the traces have them, mirrored between
     * the lenses when the left lens is the right one's mirror.
     */
    @Test
    void bothLensesStandAsSeenFromTheFront() {
        FrameTrace right = trace;
        Document picture = parse(SvgWriter.toSvg(right, right.mirror(), "J&1"));
        assertTrue(picture.getElementsByTagName("title").item(0).getTextContent().contains("job J&1"));
        Element r = lens(picture, 'R');
        Element l = lens(picture, 'L');
        Element rBox = all(r, "rect", "box").get(0);
        Element lBox = all(l, "rect", "box").get(0);
        double rNasal = number(rBox, "x") + number(rBox, "width");
        double lNasal = number(lBox, "x");
        assertEquals(-right.dbl() / 2, rNasal, 0.001, "right lens left of the bridge");
        assertEquals(right.dbl() / 2, lNasal, 0.001, "left lens right of it");
        assertEquals(rNasal, sideLabelX(r, "nasal"), 0.001);
        assertEquals(number(rBox, "x"), sideLabelX(r, "temporal"), 0.001);
        assertEquals(lNasal, sideLabelX(l, "nasal"), 0.001);
        assertEquals(lNasal + number(lBox, "width"), sideLabelX(l, "temporal"), 0.001);

        // The right lens's centre cross gives its centre; its hole at x 19.5 lies on the nasal side.
        double rCentre = rNasal - right.computedBox().maxX();
        List<Double> rHoles = all(r, "circle", "hole").stream().map(c -> number(c, "cx") - rCentre).toList();
        assertEquals(List.of(19.5, -19.25), rHoles.stream().map(x -> Math.round(x * 1000) / 1000.0).toList());
        List<Double> lHoles = all(l, "circle", "hole").stream().map(c -> -number(c, "cx")).toList();
        for (int i = 0; i < 2; i++) {
            assertEquals(rHoles.get(i) + rCentre, lHoles.get(i), 0.001, "mirror images about the bridge");
        }
        String labels = String.join("\n", all(picture.getDocumentElement(), "text", "label").stream()
                .map(Element::getTextContent).toList());
        assertTrue(labels.startsWith("Job J&1\n" + SvgWriter.VIEWPOINT), labels);
        assertTrue(labels.contains("DBL 18.50 mm"), labels);
        assertThrows(IllegalArgumentException.class, () -> SvgWriter.toSvg(right.mirror(), right, null));
    }

    @Test
    void oneLensNamesItsSides() {
        for (FrameTrace lens : List.of(trace, trace.mirror())) {
            Document picture = parse(SvgWriter.toSvg(lens));
            Element g = lens(picture, lens.eye().letter());
            FrameTrace.Box box = lens.computedBox();
            double nasal = lens.eye() == Eye.RIGHT ? box.maxX() : box.minX();
            double temporal = lens.eye() == Eye.RIGHT ? box.minX() : box.maxX();
            assertEquals(nasal, sideLabelX(g, "nasal"), 0.001, lens.toString());
            assertEquals(temporal, sideLabelX(g, "temporal"), 0.001, lens.toString());
            assertEquals(lens.eye() == Eye.RIGHT ? "Right lens (R)" : "Left lens (L)",
                    all(g, "text", "caption").get(0).getTextContent());
        }
    }
}
