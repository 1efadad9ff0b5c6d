package rtest;

/** An enumeration in the form the runtime converts: value() and fromValue(int). */
public enum Fruit {
    APPLE(1),
    PEAR(7),
    FIG(-2);

    private final int value;

    Fruit(int value) {
        this.value = value;
    }

    public int value() {
        return value;
    }

    public static Fruit fromValue(int value) {
        for (Fruit f : values()) {
            if (f.value == value) {
                return f;
            }
        }
        throw new IllegalArgumentException("No Fruit with value " + value);
    }
}
