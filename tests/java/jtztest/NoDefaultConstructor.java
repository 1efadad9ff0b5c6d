package jtztest;

/** A class whose only constructor takes an argument. */
public class NoDefaultConstructor {
    public int value = 7;
    public boolean constructed;

    public NoDefaultConstructor(int value) {
        this.value = value;
        this.constructed = true;
    }
}
