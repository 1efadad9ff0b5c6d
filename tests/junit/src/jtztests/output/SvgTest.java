package jtztests.output;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayInputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import javax.xml.parsers.DocumentBuilderFactory;
import jtrazelo.svg.SvgWriter;
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
}
