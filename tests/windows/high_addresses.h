// The host's run with no address below 4 GiB left to hand out, as on 64-bit
// Windows with high-entropy ASLR, where nearly every heap block and COM object
// lies above 4 GiB:
//
//   wine64 wine_host.exe <folder> Both high
//
// take_low_address_space() runs first, before any library of the bridge is
// loaded: it reserves every free region below 4 GiB and fills what the heaps
// still had free there, so that whatever is made afterwards lies above. The
// Both suite then runs as usual, with the checks of this file around it.
#pragma once

#include <jni.h>

namespace wh {

// Reserves every free region below 4 GiB and takes the room left below 4 GiB
// in the C runtime's heap and the process heap.
void take_low_address_space();

// That the low address space is taken, and that a component created through
// the natives, its sink and fresh heap blocks of every allocator lie above it
// (failed checks otherwise: the run cannot pass by luck of the layout).
void check_high_addresses(jobject component, jobject device, jobject events);

// Values that no open binding stands for (from a binding that was closed, the
// slot bound anew meanwhile; from an object that is gone; made up) are
// refused with IllegalStateException and reach no object.
void check_stale_and_forged_values();

}  // namespace wh
