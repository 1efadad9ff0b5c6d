package rtest;

import ezjcom.JComObject;

/** Keeps what its server-side events brought; throws instead when told to. */
public class ServerSideHandler extends JComObject {
    public String interfaceName;
    public String eventName;
    public Object[] args;
    public int calls;
    public RuntimeException toThrow;

    @Override
    protected void __JComServerSideEvent(String interfaceName, String eventName, Object[] args) {
        calls++;
        this.interfaceName = interfaceName;
        this.eventName = eventName;
        this.args = args;
        if (toThrow != null) {
            throw toThrow;
        }
    }
}
