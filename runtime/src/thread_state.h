// What the runtime keeps per thread: the pending fatal error; and the names
// of the threads it attaches to the JVM.
#pragma once

#include <cstddef>

namespace ezjcom {

// Writes the name of the next thread the runtime attaches to the JVM (the
// threads events arrive on): "COM event thread <n> (EZJcomLib18)", n counting
// from 1 in the process, so that a thread dump says what each one is.
void attached_thread_name(char* buffer, std::size_t size);

// Leaves a fatal error pending for the calling thread.
void set_fatal();
// Reports the calling thread's pending fatal error and clears it.
bool take_fatal();
// Drops the pending fatal errors of every thread.
void clear_all_fatal();

}  // namespace ezjcom
