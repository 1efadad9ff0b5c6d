package jtzbench;

/** A named operation of a suite. */
record Case(String name, Op op) {}
