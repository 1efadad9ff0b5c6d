// The host's run with the address space below 4 GiB taken (high_addresses.h).
//
// Under 64-bit Wine the heaps and the component's objects usually lie below
// 4 GiB, where a pointer cut to the 32 bits of a Java int field would still
// work by chance. Here nothing is handed out below 4 GiB any more: a pointer
// that went through an int unchecked is cut, and the cut value points into
// reserved, inaccessible memory, so a run that dereferences one crashes.
#include "high_addresses.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host_classes.h"
#include "host_support.h"
#include "scanmontura_sim.h"

namespace wh {
namespace {

// 64-bit arithmetic throughout, so that the file builds for 32-bit x86 too
// (where nothing lies above 4 GiB and the host never takes this path).
constexpr uint64_t k4GiB = uint64_t{1} << 32;
constexpr uint64_t kGranularity = 0x10000;  // VirtualAlloc's allocation granularity

bool high(const void* p) { return reinterpret_cast<uintptr_t>(p) >= k4GiB; }

std::string address(const void* p) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  return buf;
}

// Calls fn(base, size) for each free region below 4 GiB that VirtualAlloc can
// reserve (whole units of the allocation granularity).
template <class Fn>
void free_low_regions(Fn fn) {
  MEMORY_BASIC_INFORMATION mbi;
  uint64_t at = kGranularity;
  while (at < k4GiB && VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(at)), &mbi,
                                    sizeof mbi) == sizeof mbi) {
    const uint64_t base = reinterpret_cast<uintptr_t>(mbi.BaseAddress);
    const uint64_t end = base + mbi.RegionSize;
    if (mbi.State == MEM_FREE) {
      const uint64_t from = (base + kGranularity - 1) & ~(kGranularity - 1);
      const uint64_t to = (end < k4GiB ? end : k4GiB) & ~(kGranularity - 1);
      if (to > from) fn(from, to - from);
    }
    if (end <= at) break;
    at = end;
  }
}

uint64_t g_reserved = 0;           // bytes reserved below 4 GiB
uint64_t g_refused = 0;            // bytes of free regions VirtualAlloc would not reserve
unsigned long g_heap_fillers = 0;  // heap blocks taken below 4 GiB

// Takes the blocks that `alloc` still hands out below 4 GiB, size by size from
// large to small, until it hands out one above for each size. The blocks are
// kept for the life of the process. Sizes step by 16 bytes up to 1 KiB, so
// that every small size class of the heap (each with blocks of its own) is
// emptied below 4 GiB, then by eighths up to 256 KiB.
template <class Alloc>
void fill_low_heap(Alloc alloc) {
  std::vector<size_t> sizes;
  for (size_t size = 256 * 1024; size > 1024; size -= size / 8) sizes.push_back(size);
  for (size_t size = 1024; size >= 16; size -= 16) sizes.push_back(size);
  for (size_t size : sizes) {
    for (unsigned long n = 0; n < 1000000; ++n) {
      void* p = alloc(size);
      if (!p || high(p)) break;
      ++g_heap_fillers;
    }
  }
}

// The heaps made at the start of the process still have room below 4 GiB:
// the C runtime's (new and malloc, in every module) and the process heap
// (CoTaskMemAlloc, BSTRs).
void fill_low_heaps() {
  fill_low_heap([](size_t n) { return std::malloc(n); });
  fill_low_heap([](size_t n) { return HeapAlloc(GetProcessHeap(), 0, n); });
}

// A component wrapper of a new component and an IScanMontura wrapper bound to it.
struct Pair {
  jobject component = nullptr;
  jobject device = nullptr;
  ISimControl* sim = nullptr;  // the component's own test interface, a reference of ours
};

const char kCreate[] = "Java_puente_ScanMontura__1_1JComCreateObject__ZZ";
const char kLoad[] = "Java_puente_IScanMontura__1_1JComLoad__Lezjcom_JComObject_2Z";
const char kRelease[] = "Java_ezjcom_JComObject__1_1JComRelease";
const char kStale[] =
    "java/lang/IllegalStateException: JComObject holds no live COM object (its comId was not "
    "bound by the runtime)";

Pair new_pair() {
  Pair p;
  p.component = ref(new_instance("puente/ScanMontura"));
  native<jboolean>(kCreate, p.component, jboolean{0}, jboolean{0});
  p.device = ref(new_instance("puente/IScanMontura"));
  native<jboolean>(kLoad, p.device, p.component, jboolean{0});
  if (IUnknown* u = pointer<IUnknown>(deref(p.component), "comId"))
    u->QueryInterface(IID_ISimControl, reinterpret_cast<void**>(&p.sim));
  return p;
}

// Gives the binding of wrapper's com-id field back as ezjcom.JComObject does:
// the field is taken to 0, the value handed to the runtime's __JComRelease.
jint release(jobject wrapper) {
  Object* w = deref(wrapper);
  const jint value = w->get_int("comId");
  w->set_int("comId", 0);
  if (value) call_in<void>(g_runtime, kRelease, jclass{nullptr}, value);
  return value;
}

ULONG calls(ISimControl* sim) {
  SimCallRecord r{};
  sim->GetLastCall(&r);
  return r.calls;
}

// getText on an IScanMontura wrapper whose field holds `value`: the exception it raised.
std::string get_text_through(jint value) {
  jobject wrapper = ref(new_instance("puente/IScanMontura"));
  deref(wrapper)->set_int("comId", value);
  member<jstring>("getText", wrapper);
  deref(wrapper)->set_int("comId", 0);
  return take_exception();
}

}  // namespace

void take_low_address_space() {
  free_low_regions([](uint64_t base, uint64_t size) {
    if (VirtualAlloc(reinterpret_cast<void*>(static_cast<uintptr_t>(base)),
                     static_cast<size_t>(size), MEM_RESERVE, PAGE_NOACCESS))
      g_reserved += size;
    else
      g_refused += size;  // Wine keeps some ranges for itself, listed free (ERROR_INVALID_ADDRESS)
  });
  fill_low_heaps();
}

void check_high_addresses(jobject component, jobject device, jobject events) {
  uint64_t still_free = 0;
  free_low_regions([&](uint64_t, uint64_t size) { still_free += size; });
  // Regions of several sizes, wherever the system puts them.
  std::string regions;
  bool regions_high = true;
  for (size_t size : {size_t{1} << 16, size_t{1} << 20, size_t{1} << 24, size_t{1} << 28}) {
    void* r = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
    regions_high = regions_high && high(r);
    regions += " " + address(r);
    if (r) VirtualFree(r, 0, MEM_RELEASE);
  }
  const std::string taken = std::to_string(g_reserved >> 20) + " MiB reserved below 4 GiB, " +
                            std::to_string(g_refused >> 20) + " MiB refused to the program, " +
                            std::to_string(still_free >> 20) + " MiB listed free; " +
                            std::to_string(g_heap_fillers) + " heap blocks taken; new regions at" +
                            regions;
  std::printf("--   %s\n", taken.c_str());
  check(g_reserved > (uint64_t{1} << 30) && still_free == g_refused && regions_high,
        "every free region below 4 GiB that the program may reserve is reserved: new regions lie "
        "above",
        taken);

  // Fresh blocks of every allocator the bridge, the runtime and oleaut32 use.
  void* small = std::malloc(24);
  void* large = std::malloc(3000);
  char* object = new char[200];
  void* process = HeapAlloc(GetProcessHeap(), 0, 40);
  void* task = CoTaskMemAlloc(64);
  BSTR text = SysAllocString(L"above");
  const std::vector<const void*> blocks = {small, large, object, process, task, text};
  std::string where;
  bool all_high = true;
  for (const void* b : blocks) {
    all_high = all_high && high(b);
    where += (where.empty() ? "" : " ") + address(b);
  }
  std::printf("--   heap blocks at %s\n", where.c_str());
  check(all_high, "heap blocks lie above 4 GiB: malloc, new, HeapAlloc, CoTaskMemAlloc, BSTR",
        where);
  SysFreeString(text);
  CoTaskMemFree(task);
  HeapFree(GetProcessHeap(), 0, process);
  delete[] object;
  std::free(large);
  std::free(small);

  // The component and its interfaces, created through the natives after the reservation.
  IUnknown* created = pointer<IUnknown>(deref(component), "comId");
  IUnknown* face = pointer<IUnknown>(deref(device), "comId");
  IUnknown* dispatch = pointer<IUnknown>(deref(events), "comId");
  std::printf("--   component at %s, IScanMontura %s, IDispatch %s\n", address(created).c_str(),
              address(face).c_str(), address(dispatch).c_str());
  check(created && face && dispatch && high(created) && high(face) && high(dispatch),
        "the component's interface pointers lie above 4 GiB",
        address(created) + " " + address(face) + " " + address(dispatch));

  // A sink the runtime makes for a listener, connected and disconnected again.
  jobject listener = ref(new_instance(kListenerClass));
  native<jboolean>("Java_puente_IScanMonturaEvents__1_1JComEventListenerInit", listener);
  IUnknown* sink = pointer<IUnknown>(deref(listener), "eventId");
  const jint cookie =
      call_in<jint>(g_runtime, "Java_ezjcom_JComObject__1_1JComAdvise", component, listener);
  call_in<void>(g_runtime, "Java_ezjcom_JComObject__1_1JComUnadvise", component, listener, cookie);
  const std::string exception = take_exception();
  check(sink && high(sink) && cookie != 0 && exception.empty(),
        "an event sink the runtime makes lies above 4 GiB", address(sink) + " " + exception);
}

void check_stale_and_forged_values() {
  // Blocks given back since the start (some of them from below 4 GiB, made
  // before the space was taken) are taken again first.
  fill_low_heaps();
  Pair p = new_pair();
  if (!p.sim) {
    check(false, "a component for the stale and forged values");
    return;
  }
  const jint live = deref(p.device)->get_int("comId");
  IUnknown* face = pointer<IUnknown>(deref(p.device), "comId");
  member<jstring>("getText", p.device);
  const ULONG before = calls(p.sim);
  check(live != 0 && high(face) && take_exception().empty() && before > 0,
        "a live value reaches its object, above 4 GiB", address(face));

  // A value kept after its binding was given back; the object lives on
  // through the component wrapper, so only the value can refuse it.
  const jint closed = release(p.device);
  const std::string after_close = get_text_through(closed);
  check(after_close == kStale && calls(p.sim) == before,
        "a value whose binding was given back: IllegalStateException, no call", after_close);

  // The object bound anew (in the slot just freed, as the table reuses it):
  // the old value still reaches nothing, the new one its object.
  jobject again = ref(new_instance("puente/IScanMontura"));
  native<jboolean>(kLoad, again, p.component, jboolean{0});
  const jint renewed = deref(again)->get_int("comId");
  const std::string through_old = get_text_through(closed);
  const ULONG old_calls = calls(p.sim);
  member<jstring>("getText", again);
  const std::string through_new = take_exception();
  std::printf("--   value given back %s, the object's new value %s\n",
              hex(static_cast<uint32_t>(closed)).c_str(),
              hex(static_cast<uint32_t>(renewed)).c_str());
  check(renewed != 0 && renewed != closed && through_old == kStale && old_calls == before &&
            through_new.empty() && calls(p.sim) == before + 1,
        "the object bound anew: the old value refused, the new one reaches it",
        hex(static_cast<uint32_t>(closed)) + " then " + hex(static_cast<uint32_t>(renewed)) + ": " +
            through_old + through_new);

  // Made-up values, among them the halves of the live interface pointer (a
  // value that stored the pointer itself would hold its low half) and the
  // live value with a bit of it changed.
  const uint64_t bits = reinterpret_cast<uintptr_t>(face);
  const struct {
    const char* what;
    jint value;
  } forged[] = {
      {"low half of the pointer", static_cast<jint>(static_cast<uint32_t>(bits))},
      {"high half of the pointer", static_cast<jint>(static_cast<uint32_t>(bits >> 32))},
      {"live value, top bit changed",
       static_cast<jint>(static_cast<uint32_t>(renewed) ^ 0x80000000u)},
      {"live value, bit 30 changed",
       static_cast<jint>(static_cast<uint32_t>(renewed) ^ 0x40000000u)},
      {"2", 2},
      {"-1", -1},
      {"0x7FFFFFFF", 0x7FFFFFFF},
      {"0x80000000", static_cast<jint>(0x80000000u)},
  };
  std::string wrong;
  for (const auto& f : forged) {
    const ULONG n = calls(p.sim);
    const std::string e = get_text_through(f.value);
    if (e != kStale || calls(p.sim) != n)
      wrong += std::string(wrong.empty() ? "" : "; ") + f.what + " " +
               hex(static_cast<uint32_t>(f.value)) + ": " + (e.empty() ? "accepted" : e);
  }
  check(wrong.empty(), "made-up values: IllegalStateException each, no call", wrong);

  // Everything given back: the component is gone, its values stay refused.
  const jint device_value = release(again);
  p.sim->Release();
  p.sim = nullptr;
  const jint component_value = release(p.component);
  const std::string gone_device = get_text_through(device_value);
  const std::string gone_component = get_text_through(component_value);
  check(gone_device == kStale && gone_component == kStale,
        "values of an object that is gone: IllegalStateException, nothing dereferenced",
        gone_device + " " + gone_component);
}

}  // namespace wh
