package jtzbench;

import java.util.Map;
import java.util.function.ToDoubleFunction;

/**
 * A ratio of a suite, computed from the median ns/op of its cases within one fork.
 *
 * @param name what is divided by what
 * @param goal the largest value the ratio may have, or NaN when there is no goal
 * @param of the ratio, from the case medians by case name
 */
record Ratio(String name, double goal, ToDoubleFunction<Map<String, Double>> of) {}
