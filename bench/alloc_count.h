/* Per-thread counting of heap allocations (see alloc_count.c). */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the calling thread's counting window, from zero. */
void jtz_alloc_begin(void);
/* Closes it and gives the allocations (malloc, calloc, realloc, the aligned
 * forms) and the frees of non-null pointers made on this thread meanwhile. */
void jtz_alloc_end(unsigned long* allocs, unsigned long* frees);

#ifdef __cplusplus
}
#endif
