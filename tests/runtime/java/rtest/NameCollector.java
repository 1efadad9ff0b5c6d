package rtest;

import ezjcom.JComObject;
import java.util.ArrayList;
import java.util.List;

/** Collects the event names of its server-side events, from any thread. */
public class NameCollector extends JComObject {
    private final List<String> names = new ArrayList<>();

    @Override
    protected synchronized void __JComServerSideEvent(String interfaceName, String eventName, Object[] args) {
        names.add(eventName + "/" + args.length);
    }

    public synchronized String[] names() {
        return names.toArray(new String[0]);
    }
}
