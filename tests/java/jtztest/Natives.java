package jtztest;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;

/** Calls every member native of a wrapper through the JVM, as Java code does. */
public final class Natives {
    private Natives() {}

    /** A default argument of each parameter type the member natives take. */
    static Object defaultArgument(Class<?> type) {
        if (type == boolean.class) return Boolean.FALSE;
        if (type == byte.class) return (byte) 0;
        if (type == short.class) return (short) 0;
        if (type == int.class) return 0;
        if (type == float.class) return 0f;
        if (type == String.class) return "x";
        if (type == java.awt.Color.class) return java.awt.Color.RED;
        if (type.isEnum()) return type.getEnumConstants()[0];
        return null;
    }

    /**
     * Calls each member native (every native but the __JCom ones) of {@code target} and returns
     * one line per native: "name -> result | exception: message".
     */
    public static String[] callAll(Object target) throws Exception {
        List<String> out = new ArrayList<>();
        Method[] methods = target.getClass().getDeclaredMethods();
        Arrays.sort(methods, Comparator.comparing(Method::getName));
        for (Method m : methods) {
            if (!Modifier.isNative(m.getModifiers()) || m.getName().startsWith("__")) continue;
            Object[] args = Arrays.stream(m.getParameterTypes()).map(Natives::defaultArgument).toArray();
            String line = m.getName() + " -> ";
            try {
                Object r = m.invoke(target, args);
                line += String.valueOf(r);
            } catch (InvocationTargetException e) {
                Throwable t = e.getCause();
                line += t.getClass().getName() + ": " + t.getMessage() + " | returned";
            }
            out.add(line);
        }
        return out.toArray(new String[0]);
    }

    /** The number of member natives declared by the class. */
    public static int countMemberNatives(Class<?> c) {
        int n = 0;
        for (Method m : c.getDeclaredMethods())
            if (Modifier.isNative(m.getModifiers()) && !m.getName().startsWith("__")) n++;
        return n;
    }
}
