package jtztest;

/** A class whose no-argument constructor throws. */
public class ThrowingConstructor {
    public ThrowingConstructor() {
        throw new IllegalStateException("constructor refused");
    }
}
