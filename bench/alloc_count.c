/* Heap allocation counting for the allocation benchmark, without LD_PRELOAD.
 *
 * Linked into the executable that embeds the JVM, these definitions of the C
 * allocator come first in the process's global symbol scope, so every library
 * (the JVM, libstdc++, the bridge, the runtime, the component) calls them. They
 * hand each request to glibc's own allocator and, on a thread that has opened
 * a counting window, count it.
 *
 *   jtz_alloc_begin();  ... the calls to count ...  jtz_alloc_end(&allocs, &frees);
 *
 * Only the calling thread is counted: the JVM's own threads (compiler, GC)
 * allocate at any time and are not what is measured. */
#include <errno.h>
#include <stddef.h>

#include "alloc_count.h"

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);

/* Executable TLS: no allocation on first use, so safe inside malloc. */
static __thread int t_counting;
static __thread unsigned long t_allocs;
static __thread unsigned long t_frees;

#define JTZ_EXPORT __attribute__((visibility("default")))

static void count_alloc(void) {
  if (t_counting) ++t_allocs;
}

JTZ_EXPORT void* malloc(size_t size) {
  count_alloc();
  return __libc_malloc(size);
}

JTZ_EXPORT void* calloc(size_t count, size_t size) {
  count_alloc();
  return __libc_calloc(count, size);
}

JTZ_EXPORT void* realloc(void* p, size_t size) {
  count_alloc();
  return __libc_realloc(p, size);
}

JTZ_EXPORT void free(void* p) {
  if (p && t_counting) ++t_frees;
  __libc_free(p);
}

JTZ_EXPORT void* memalign(size_t alignment, size_t size) {
  count_alloc();
  return __libc_memalign(alignment, size);
}

JTZ_EXPORT void* aligned_alloc(size_t alignment, size_t size) {
  count_alloc();
  return __libc_memalign(alignment, size);
}

JTZ_EXPORT int posix_memalign(void** out, size_t alignment, size_t size) {
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  count_alloc();
  void* p = __libc_memalign(alignment, size);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}

void jtz_alloc_begin(void) {
  t_allocs = 0;
  t_frees = 0;
  t_counting = 1;
}

void jtz_alloc_end(unsigned long* allocs, unsigned long* frees) {
  t_counting = 0;
  *allocs = t_allocs;
  *frees = t_frees;
}
