package puente;

import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * What a component wrapper shares with its registrations: where their failures go, the listeners of
 * server-side delivery and the open server-side registration. It never refers to the wrapper, so
 * that what an event sink reaches (a registration, through its listener) does not keep the wrapper
 * reachable.
 */
final class ComponentEvents {
    final List<ServerSideListener> serverSideListeners = new CopyOnWriteArrayList<>();
    volatile EventErrorHandler errorHandler;

    // The open server-side registration and the one being made, guarded by this object.
    ServerSideRegistration serverSide;
    java.util.concurrent.CompletableFuture<ServerSideRegistration> serverSidePending;

    EventErrorHandler errorHandler() {
        EventErrorHandler handler = errorHandler;
        return handler == null ? EventErrorHandler.LOG : handler;
    }

    void report(String eventName, Throwable failure) {
        EventErrors.report(errorHandler, eventName, failure);
    }

    // A server-side registration ended: a later enableServerSideEvents makes a new one.
    synchronized void forget(ServerSideRegistration registration) {
        if (serverSide == registration) {
            serverSide = null;
        }
    }
}
