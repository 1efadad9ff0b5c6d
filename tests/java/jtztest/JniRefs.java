package jtztest;

import java.lang.management.ManagementFactory;
import javax.management.ObjectName;

/** Reads the JVM's count of live JNI global references from its thread dump. */
public final class JniRefs {
    private JniRefs() {}

    public static long globalRefCount() throws Exception {
        String dump = (String) ManagementFactory.getPlatformMBeanServer().invoke(
                new ObjectName("com.sun.management:type=DiagnosticCommand"),
                "threadPrint", new Object[] {new String[0]}, new String[] {String[].class.getName()});
        int at = dump.lastIndexOf("JNI global refs: ");
        if (at < 0) {
            at = dump.lastIndexOf("JNI global references: ");
            if (at < 0) return -1;
            at += "JNI global references: ".length();
        } else {
            at += "JNI global refs: ".length();
        }
        int end = at;
        while (end < dump.length() && Character.isDigit(dump.charAt(end))) end++;
        return Long.parseLong(dump.substring(at, end));
    }
}
