package jtztest;

/** A colour whose red accessor throws, as a faulty subclass might. */
public class ThrowingColor extends java.awt.Color {
    public ThrowingColor() {
        super(1, 2, 3);
    }

    @Override
    public int getRed() {
        throw new IllegalStateException("no red today");
    }
}
