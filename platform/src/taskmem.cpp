// The COM task allocator.
//
// On x86-64 every block comes from below 2 GiB, so that the address of a COM
// object fits a 32-bit Java int field exactly as it does in a 32-bit process.
// Small blocks are carved from 1 MiB regions mapped with MAP_32BIT, in size
// classes of powers of two, and freed blocks go back to the free list of their
// class for reuse; larger blocks get a mapping of their own. On other
// architectures (32-bit x86) the C heap already gives such addresses.
// Every block is 16-byte aligned.
#include <posixcom/com.h>

#if defined(_WIN32)
#error "libjtzcom's task allocator is POSIX only; Windows has its own"
#endif

#include <cstdlib>

#if defined(__x86_64__)

#include <sys/mman.h>
#include <unistd.h>

#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define JTZ_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define JTZ_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define JTZ_POISON(p, n) ((void)(p), (void)(n))
#define JTZ_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

constexpr size_t kAlign = 16;
constexpr size_t kClasses = 12;  // payloads of 16 << 0 .. 16 << 11 (32 KiB)
constexpr size_t kLargestSmall = kAlign << (kClasses - 1);
constexpr size_t kRegionSize = size_t{1} << 20;
constexpr uint32_t kLarge = 0xFFFFFFFF;
constexpr uint32_t kInUse = 0x4A545A41;  // marks a live block
constexpr uint32_t kFree = 0x4A545A46;   // marks a block on a free list

// Precedes each payload; 16 bytes, so payloads stay 16-byte aligned. It is
// never handed out, so sanitizers may poison the payload of a free block.
struct alignas(kAlign) Header {
  uint32_t size_class;  // or kLarge
  uint32_t state;       // kInUse or kFree
  union {
    Header* next_free;    // small block on a free list
    size_t mapping_size;  // large block: length of its own mapping
  };
};
static_assert(sizeof(Header) == kAlign, "header keeps payloads aligned");

void* map_low(size_t bytes) {
  void* p =
      mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

size_t class_of(size_t cb) {
  size_t c = 0;
  while ((kAlign << c) < cb) ++c;
  return c;
}

class LowAllocator {
 public:
  void* allocate(size_t cb) {
    if (cb == 0) cb = 1;
    if (cb > kLargestSmall) return allocate_large(cb);
    const size_t c = class_of(cb);
    Header* h;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if ((h = free_[c])) {
        free_[c] = h->next_free;
      } else {
        const size_t block = sizeof(Header) + (kAlign << c);
        if (static_cast<size_t>(region_end_ - region_next_) < block) {
          char* region = static_cast<char*>(map_low(kRegionSize));
          if (!region) return nullptr;
          JTZ_POISON(region, kRegionSize);  // unused space is off limits
          region_next_ = region;
          region_end_ = region + kRegionSize;
        }
        h = reinterpret_cast<Header*>(region_next_);
        region_next_ += block;
        JTZ_UNPOISON(h, sizeof(Header));
      }
      h->size_class = static_cast<uint32_t>(c);
      h->state = kInUse;
    }
    JTZ_UNPOISON(h + 1, cb);  // exactly what was asked for: the rest of the class stays off limits
    return h + 1;
  }

  void free(void* pv) {
    Header* h = static_cast<Header*>(pv) - 1;
    if (h->state != kInUse) std::abort();  // double free, or not from CoTaskMemAlloc
    if (h->size_class == kLarge) {
      munmap(h, h->mapping_size);
      return;
    }
    JTZ_POISON(pv, kAlign << h->size_class);
    std::lock_guard<std::mutex> lock(mutex_);
    h->state = kFree;
    h->next_free = free_[h->size_class];
    free_[h->size_class] = h;
  }

 private:
  static void* allocate_large(size_t cb) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    if (cb > SIZE_MAX - sizeof(Header) - page) return nullptr;
    const size_t bytes = (sizeof(Header) + cb + page - 1) / page * page;
    Header* h = static_cast<Header*>(map_low(bytes));
    if (!h) return nullptr;
    h->size_class = kLarge;
    h->state = kInUse;
    h->mapping_size = bytes;
    return h + 1;
  }

  std::mutex mutex_;
  Header* free_[kClasses] = {};
  char* region_next_ = nullptr;
  char* region_end_ = nullptr;
};

LowAllocator& allocator() {
  static LowAllocator* a = new LowAllocator;  // outlives every static destructor
  return *a;
}

}  // namespace

JTZCOM_API LPVOID CoTaskMemAlloc(size_t cb) { return allocator().allocate(cb); }

JTZCOM_API void CoTaskMemFree(LPVOID pv) {
  if (pv) allocator().free(pv);
}

#else  // not x86-64: the C heap

JTZCOM_API LPVOID CoTaskMemAlloc(size_t cb) {
  void* p = nullptr;
  if (posix_memalign(&p, 16, cb ? cb : 1) != 0) return nullptr;
  return p;
}

JTZCOM_API void CoTaskMemFree(LPVOID pv) { std::free(pv); }

#endif
