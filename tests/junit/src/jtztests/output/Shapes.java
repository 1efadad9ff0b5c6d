package jtztests.output;

import java.util.List;
import jtrazelo.tracer.DrillHole;
import jtrazelo.tracer.Eye;
import jtrazelo.tracer.FrameTrace;

/** Outlines made in the test, with figures computed as the component would. */
final class Shapes {
    private Shapes() {}

    /** An ellipse of half-axes a, b (mm) in n points, radii rounded to 1/100 mm. */
    static double[] ellipse(int n, double a, double b) {
        double[] radii = new double[n];
        for (int i = 0; i < n; i++) {
            double t = 2 * Math.PI * i / n;
            double c = Math.cos(t) / a;
            double s = Math.sin(t) / b;
            radii[i] = Math.round(100 / Math.sqrt(c * c + s * s)) / 100.0;
        }
        return radii;
    }

    /** An egg: wider above than below and to the right than to the left, so no mirror is itself. */
    static double[] egg(int n) {
        double[] radii = new double[n];
        for (int i = 0; i < n; i++) {
            double t = 2 * Math.PI * i / n;
            radii[i] = Math.round(100 * (20 + 3 * Math.cos(t - 0.7))) / 100.0;
        }
        return radii;
    }

    static FrameTrace trace(Eye eye, double[] radii, List<DrillHole> holes) {
        FrameTrace draft = new FrameTrace(eye, radii, 0, 0, 0, 0, 0, 0, holes);
        FrameTrace.Box box = draft.computedBox();
        return new FrameTrace(eye, radii, (float) box.width(), (float) box.height(), 18.5f,
                (float) (box.width() + 18.5), 4.25f, (float) draft.computedPerimeter(), holes);
    }

    static FrameTrace drilled() {
        return trace(Eye.RIGHT, egg(400), List.of(new DrillHole(19.5, 4, 1.4), new DrillHole(-19.25, 3.5, 1.6)));
    }
}
