package jtztest;

/** A class with a no-argument constructor that marks the instance. */
public class WithDefaultConstructor {
    public boolean constructed;

    public WithDefaultConstructor() {
        constructed = true;
    }
}
