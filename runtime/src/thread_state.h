// What the runtime keeps per thread: the pending fatal error.
#pragma once

namespace ezjcom {

// Leaves a fatal error pending for the calling thread.
void set_fatal();
// Reports the calling thread's pending fatal error and clears it.
bool take_fatal();
// Drops the pending fatal errors of every thread.
void clear_all_fatal();

}  // namespace ezjcom
