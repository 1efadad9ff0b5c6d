package rtest;

/** Has the server-side handler's name and signature without being a JComObject. */
public class LooseHandler {
    public String eventName;

    protected void __JComServerSideEvent(String interfaceName, String eventName, Object[] args) {
        this.eventName = eventName;
    }
}
