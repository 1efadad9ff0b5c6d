package ezjcom;

import java.lang.ref.Cleaner;
import java.util.ArrayList;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * The life of one wrapper's binding, apart from the wrapper itself: whether the wrapper is closed,
 * the objects whose life ends with it (its children: registrations, connections), and the
 * reference that the cleaner gives back when the wrapper becomes unreachable without having been
 * closed.
 *
 * <p>A lifetime never refers to its wrapper, and children refer to the lifetime rather than to the
 * wrapper: so nothing a child holds (an event sink's reference to its listener, say) keeps the
 * wrapper reachable, and a wrapper that a program drops without closing is cleaned up with all its
 * children. Closing the wrapper, or the cleaner, closes every child exactly once; a child adopted
 * after that is refused, so that whoever made it undoes it.
 *
 * <p>Application code does not use this class; wrappers and their registrations do.
 */
public final class Lifetime {
    /** An object whose life ends with its wrapper's. */
    public interface Child {
        /**
         * Ends the child because its wrapper is being closed or was collected. Called at most once
         * for each adoption, on the thread that closes the wrapper or on the cleaner's.
         *
         * @throws RuntimeException when the child could not be ended cleanly (the wrapper's
         *     close reports it after closing everything else)
         */
        void endWithWrapper();

        /**
         * Returns true while the calling thread is delivering an event to this child. A close of
         * the wrapper made from there does not wait for another thread's close of it, which may be
         * waiting for that very delivery to end.
         *
         * @return whether the calling thread is inside a delivery to this child
         */
        default boolean deliveringOnThisThread() {
            return false;
        }
    }

    private final Object lock = new Object();
    private boolean closed;
    private boolean ended;          // every child ended
    private List<Child> ending;     // the children being ended, until `ended`
    private Thread endingThread;    // the thread ending them
    private Set<Child> children;
    // The com-id value the cleaner gives back, 0 when none is registered or it was disowned.
    private final AtomicInteger cleanerOwns = new AtomicInteger();
    private Cleaner.Cleanable cleanable;

    Lifetime() {}

    /**
     * Returns true once the wrapper was closed (or cleaned up).
     *
     * @return whether the wrapper is closed
     */
    public boolean isClosed() {
        synchronized (lock) {
            return closed;
        }
    }

    /**
     * Makes {@code child} end with the wrapper, unless the wrapper is closed already.
     *
     * @param child the child
     * @return false when the wrapper is closed: the caller ends the child itself
     */
    public boolean adopt(Child child) {
        synchronized (lock) {
            if (closed) {
                return false;
            }
            if (children == null) {
                children = new LinkedHashSet<>();
            }
            children.add(child);
            return true;
        }
    }

    /**
     * Forgets a child that ended on its own.
     *
     * @param child the child
     */
    public void disown(Child child) {
        synchronized (lock) {
            if (children != null) {
                children.remove(child);
            }
        }
    }

    // Marks the wrapper closed and ends every child once: the first failure, with the others
    // suppressed in it, or null. A call while another thread ends the children returns once they
    // are ended, unless it comes from inside a delivery to one of them.
    RuntimeException endChildren() {
        List<Child> mine;
        synchronized (lock) {
            if (closed) {
                awaitEnded();
                return null;
            }
            closed = true;
            mine = children == null ? List.of() : new ArrayList<>(children);
            ending = mine;
            endingThread = Thread.currentThread();
            children = null;
        }
        try {
            return end(mine);
        } finally {
            synchronized (lock) {
                ended = true;
                ending = null;
                endingThread = null;
                lock.notifyAll();
            }
        }
    }

    // Waits (holding the lock) until another thread has ended the children.
    private void awaitEnded() {
        boolean interrupted = false;
        while (!ended && ending != null && endingThread != Thread.currentThread()
                && ending.stream().noneMatch(Child::deliveringOnThisThread)) {
            try {
                lock.wait();
            } catch (InterruptedException e) {
                interrupted = true;  // kept for the caller: closing is not to be cut short
            }
        }
        if (interrupted) {
            Thread.currentThread().interrupt();
        }
    }

    private static RuntimeException end(List<Child> ending) {
        RuntimeException failure = null;
        for (Child child : ending) {
            try {
                child.endWithWrapper();
            } catch (RuntimeException e) {
                if (failure == null) {
                    failure = e;
                } else {
                    failure.addSuppressed(e);
                }
            }
        }
        return failure;
    }

    // The cleaner gives `comId` back once `wrapper` is unreachable, unless disowned first.
    void releaseWhenUnreachable(Object wrapper, int comId, Cleaner cleaner) {
        synchronized (lock) {
            if (closed || comId == 0 || cleanable != null) {
                return;
            }
            cleanerOwns.set(comId);
            cleanable = cleaner.register(wrapper, this::cleanUp);
        }
    }

    // The wrapper gives `comId` back itself: the cleaner must not.
    void disownBinding(int comId) {
        if (comId != 0) {
            cleanerOwns.compareAndSet(comId, 0);
        }
    }

    // Run by the cleaner once the wrapper is unreachable (never while it is reachable), or by
    // clean() after a close: ends the children, then gives the registered reference back.
    private void cleanUp() {
        endChildren();  // nobody is left to report a failure to
        int left = cleanerOwns.getAndSet(0);
        if (left != 0) {
            JComObject.release(left);
        }
    }

    // After a close: the cleaner has nothing left to do; dropping the registration now spares it.
    void forgetCleaner() {
        Cleaner.Cleanable registered;
        synchronized (lock) {
            registered = cleanable;
            cleanable = null;
        }
        if (registered != null && cleanerOwns.get() == 0) {
            registered.clean();
        }
    }
}
