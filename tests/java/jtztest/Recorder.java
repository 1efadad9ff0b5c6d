package jtztest;

import java.util.ArrayList;
import java.util.List;

/** A thread-safe list of what a listener received, one line per call. */
public final class Recorder {
    private final List<String> lines = new ArrayList<>();
    private final List<Object> objects = new ArrayList<>();

    public synchronized void add(String line, Object object) {
        lines.add(line);
        objects.add(object);
    }

    public synchronized String[] lines() {
        return lines.toArray(new String[0]);
    }

    public synchronized Object object(int i) {
        return objects.get(i);
    }

    public synchronized int size() {
        return lines.size();
    }

    public synchronized void clear() {
        lines.clear();
        objects.clear();
    }
}
