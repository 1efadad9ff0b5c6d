// The table of bindings (bindings.h).
//
// Slots live in one static array, never freed, so that a stale value always
// reaches a slot, never freed memory. A slot is:
//   key     the field value bound in it; 0 while the slot was never used,
//           kFreed once its binding is over
//   state   kOpen while the binding is open, plus the number of uses in flight
//   object  the interface pointer, whose one reference the slot holds
// A use increments `state` only while kOpen is set and then checks the key
// again (the slot may have been given to another binding meanwhile); closing
// clears kOpen; whoever brings `state` to 0 (the closer, or the last use)
// gives the reference back and frees the slot.
//
// Pointer values (32-bit processes) are found by open addressing from a hash
// of the pointer; the same pointer may be bound several times (each binding
// holds a reference of its own), and a probe goes on past slots of the value
// that are closing. Insertion takes the first free slot of the probe, so no
// slot of a cluster is ever empty again and a probe ends at the first slot
// never used. Handle values (64-bit processes) hold the slot's index and a
// generation that changes each time the slot is bound anew: one indexed load
// finds the slot, and a stale handle does not match its key.
#include "bindings.h"

#include <objbase.h>

#include <atomic>
#include <mutex>
#include <new>
#include <vector>

#include "apartment.h"
#include "contract.h"
#include "runtime_state.h"

namespace ezjcom {

struct BindingSlot {
  std::atomic<uint32_t> key{0};
  std::atomic<uint32_t> state{0};
  std::atomic<IUnknown*> object{nullptr};
  uint32_t generation = 0;  // handles only; changed under the table's lock
};

namespace {

constexpr unsigned kIndexBits = 18;
constexpr uint32_t kSlots = 1u << kIndexBits;
constexpr uint32_t kIndexMask = kSlots - 1;
constexpr uint32_t kGenerations = 1u << (32 - kIndexBits);
constexpr uint32_t kFreed = 1;  // neither an aligned pointer nor a handle (generation >= 1)
constexpr uint32_t kOpen = 1u << 31;
constexpr uint32_t kUses = kOpen - 1;

BindingSlot g_slots[kSlots];

struct Insertion {
  std::mutex lock;
  uint32_t used = 0;                      // handles: slots below this were bound once
  std::vector<uint32_t>* free = nullptr;  // handles: freed slots below `used`
};

Insertion& insertion() {
  static Insertion* i = new Insertion;  // never destroyed: releases may run during exit
  return *i;
}

std::atomic<long> g_open{0};

uint32_t hash(uint32_t pointer) { return ((pointer >> 3) * 0x9E3779B1u) >> (32 - kIndexBits); }

bool try_enter(BindingSlot& s) {
  uint32_t state = s.state.load(std::memory_order_relaxed);
  do {
    if (!(state & kOpen) || (state & kUses) == kUses) return false;
  } while (!s.state.compare_exchange_weak(state, state + 1, std::memory_order_acquire,
                                          std::memory_order_relaxed));
  return true;
}

// The binding is over: the slot is freed and its reference given back.
void finish(BindingSlot& s) {
  IUnknown* object = s.object.exchange(nullptr, std::memory_order_acq_rel);
  s.key.store(kFreed, std::memory_order_release);
  g_open.fetch_sub(1, std::memory_order_relaxed);
  if constexpr (kHandleBindings) {
    Insertion& in = insertion();
    std::lock_guard<std::mutex> guard(in.lock);
    // Room was made when the slot was first used: this cannot fail.
    in.free->push_back(static_cast<uint32_t>(&s - g_slots));
  }
  // In the multithreaded apartment, where the pointer was obtained; the
  // caller may be any thread, the cleaner's among them.
  if (object) in_mta([object] { object->Release(); });
}

// Tries to take slot s for a use of `value`.
BindingSlot* enter_slot(BindingSlot& s, uint32_t value) {
  if (!try_enter(s)) return nullptr;
  if (s.key.load(std::memory_order_acquire) == value) return &s;
  leave(&s);  // given to another binding between the probe and the count
  return nullptr;
}

// Clears kOpen on slot s if it is open; true when this call closed it.
bool close_slot(BindingSlot& s) {
  uint32_t state = s.state.load(std::memory_order_relaxed);
  do {
    if (!(state & kOpen)) return false;
  } while (!s.state.compare_exchange_weak(state, state & ~kOpen, std::memory_order_acq_rel,
                                          std::memory_order_relaxed));
  if ((state & kUses) == 0) finish(s);
  return true;
}

// Calls fn(slot) for each slot whose key is `value` until fn says true.
template <class Fn>
BindingSlot* find(uint32_t value, Fn fn) {
  if (value == 0 || value == kFreed) return nullptr;
  if constexpr (kHandleBindings) {
    BindingSlot& s = g_slots[value & kIndexMask];
    return s.key.load(std::memory_order_acquire) == value && fn(s) ? &s : nullptr;
  } else {
    for (uint32_t i = hash(value), n = 0; n < kSlots; i = (i + 1) & kIndexMask, ++n) {
      BindingSlot& s = g_slots[i];
      const uint32_t key = s.key.load(std::memory_order_acquire);
      if (key == 0) return nullptr;  // the end of the cluster
      if (key == value && fn(s)) return &s;
    }
    return nullptr;
  }
}

// A free slot for object, taken under the insertion lock; its key, or 0.
uint32_t claim(Insertion& in, IUnknown* object) {
  BindingSlot* slot = nullptr;
  uint32_t key = 0;
  if constexpr (kHandleBindings) {
    if (!in.free) in.free = new std::vector<uint32_t>;
    uint32_t index;
    if (!in.free->empty()) {
      index = in.free->back();
      in.free->pop_back();
    } else if (in.used < kSlots) {
      in.free->reserve(in.used + 1);  // so that freeing it later cannot fail
      index = in.used++;
    } else {
      return 0;
    }
    slot = &g_slots[index];
    slot->generation = slot->generation % (kGenerations - 1) + 1;  // 1 .. kGenerations - 1
    key = (slot->generation << kIndexBits) | index;
  } else {
    const auto pointer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object));
    for (uint32_t i = hash(pointer), n = 0; n < kSlots; i = (i + 1) & kIndexMask, ++n) {
      BindingSlot& s = g_slots[i];
      const uint32_t k = s.key.load(std::memory_order_acquire);
      if ((k == 0 || k == kFreed) && s.state.load(std::memory_order_acquire) == 0) {
        slot = &s;
        break;
      }
    }
    if (!slot) return 0;
    key = pointer;
  }
  slot->object.store(object, std::memory_order_relaxed);
  slot->state.store(kOpen, std::memory_order_release);
  slot->key.store(key, std::memory_order_release);
  return key;
}

}  // namespace

IUnknown* Use::object() const { return object_of(slot_); }

void Use::end() {
  if (BindingSlot* s = std::exchange(slot_, nullptr)) leave(s);
}

IUnknown* object_of(BindingSlot* slot) {
  return slot ? slot->object.load(std::memory_order_acquire) : nullptr;
}

void leave(BindingSlot* slot) {
  // 1 before the decrement: the last use of a binding closed meanwhile.
  if (slot->state.fetch_sub(1, std::memory_order_acq_rel) == 1) finish(*slot);
}

jint bind(IUnknown* object) try {
  if (!object) return 0;
  if constexpr (!kHandleBindings) {
    // A pointer is its own value: 0 and kFreed are never interface pointers.
    if (reinterpret_cast<uintptr_t>(object) <= kFreed) return 0;
  }
  Insertion& in = insertion();
  std::lock_guard<std::mutex> guard(in.lock);
  const uint32_t key = claim(in, object);
  if (key) g_open.fetch_add(1, std::memory_order_relaxed);
  return static_cast<jint>(key);
} catch (const std::bad_alloc&) {
  return 0;
}

Use enter_value(jint value) {
  const auto v = static_cast<uint32_t>(value);
  if (v == 0) return Use(nullptr, value, UseStatus::kUnbound);
  BindingSlot* slot = find(v, [v](BindingSlot& s) { return enter_slot(s, v) != nullptr; });
  return Use(slot, value, slot ? UseStatus::kOk : UseStatus::kStale);
}

Use enter_field(JNIEnv* env, jobject wrapper, jfieldID field) {
  if (!wrapper || !field) return Use(nullptr, 0, UseStatus::kUnbound);
  jint value = env->GetIntField(wrapper, field);
  // A few rounds: each one that fails saw the field change under it.
  for (int round = 0; round < 4; ++round) {
    Use use = enter_value(value);
    if (use.status() == UseStatus::kUnbound) return use;
    const jint now = env->GetIntField(wrapper, field);
    if (now == value) return use;  // kOk, or kStale with the field unchanged
    use.end();
    value = now;  // closed (0) or bound anew meanwhile
  }
  return Use(nullptr, value, UseStatus::kUnbound);
}

bool close_value(jint value) {
  const auto v = static_cast<uint32_t>(value);
  return find(v, [](BindingSlot& s) { return close_slot(s); }) != nullptr;
}

long open_bindings() { return g_open.load(std::memory_order_relaxed); }

}  // namespace ezjcom

using namespace ezjcom;

// The bridge's use of a com-id field, on every member call: the steps of
// enter_field, written out in one function so that they compile to a few
// loads, one compare-and-swap and no calls but JNI's.
EZJCOM_API int EZJCOM_CALL ezjcomEnterComId(JNIEnv* env, jobject wrapper, EzjcomComUse* use) {
  if (!use) return EZJCOM_USE_UNBOUND;
  *use = EzjcomComUse{};
  jfieldID field = wrapper ? com_id_field_fast(env) : nullptr;
  if (!field) return EZJCOM_USE_UNBOUND;
  const jint value = env->GetIntField(wrapper, field);
  {
    // The slot a handle names, or the first of a pointer's probe (where it usually is).
    const auto v = static_cast<uint32_t>(value);
    if (v != 0 && v != kFreed) {
      BindingSlot& s = g_slots[kHandleBindings ? v & kIndexMask : hash(v)];
      if (s.key.load(std::memory_order_acquire) == v && try_enter(s)) {
        // A handle's generation tells this binding from any later one in the slot; a pointer
        // may be bound again at the same address, so its field is read once more.
        if (s.key.load(std::memory_order_acquire) == v &&
            (kHandleBindings || env->GetIntField(wrapper, field) == value)) {
          use->object = s.object.load(std::memory_order_acquire);
          use->slot = &s;
          use->value = value;
          return EZJCOM_USE_OK;
        }
        leave(&s);
      }
    }
  }
  // The general way: a pointer further along its probe, closed or stale bindings, a field
  // changed meanwhile.
  Use taken = enter_field(env, wrapper, field);
  use->object = taken.object();
  use->value = taken.value();
  const UseStatus status = taken.status();
  use->slot = taken.release();
  switch (status) {
    case UseStatus::kOk: return EZJCOM_USE_OK;
    case UseStatus::kStale: return EZJCOM_USE_STALE;
    case UseStatus::kUnbound: break;
  }
  return EZJCOM_USE_UNBOUND;
}

EZJCOM_API void EZJCOM_CALL ezjcomLeaveComId(EzjcomComUse* use) {
  if (!use || !use->slot) return;
  leave(static_cast<BindingSlot*>(use->slot));
  use->slot = nullptr;
  use->object = nullptr;
}
