// What the runtime keeps per thread: the pending fatal error and whether COM
// has been set up on the thread.
#pragma once

namespace ezjcom {

// Leaves a fatal error pending for the calling thread.
void set_fatal();
// Reports the calling thread's pending fatal error and clears it.
bool take_fatal();
// Drops the pending fatal errors of every thread.
void clear_all_fatal();

// Sets up COM on the calling thread, once (multithreaded apartment).
void ensure_com_thread();

}  // namespace ezjcom
