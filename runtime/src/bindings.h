// The bindings: every COM reference the runtime hands to a Java field.
//
// A wrapper's com-id field holds a value that stands for one COM reference:
// in a 32-bit process the interface pointer itself, in a 64-bit one (where a
// pointer does not fit the int field) a handle, a slot index with a
// generation. Either way the value is found in one table, whose slot holds the
// pointer, the count of its uses in flight and whether it is still open:
//
//   Use use = enter_field(env, wrapper, com_id_field(env));
//   if (use.status != UseStatus::kOk) ...;      // unbound, closed, or a value never bound
//   use.object()->QueryInterface(...);          // the object stays while the use lasts
//   // leave at the end of the scope: the last use of a closed binding gives its reference back
//
// Closing a binding (close_value) refuses every new use and gives the
// reference back exactly once: at once when no use is in flight, otherwise
// when the last one ends. So a wrapper closed on one thread while another
// thread calls through it never frees what that call is using, and a value
// read from a field just before the close reaches either the live object or a
// refusal, never freed memory. A value the table does not know (forged, or
// left from a binding closed long ago) is refused, never dereferenced.
#pragma once

#include <jni.h>
#include <oaidl.h>

#include <cstdint>
#include <utility>

namespace ezjcom {

struct BindingSlot;

enum class UseStatus {
  kOk,       // the use holds the object
  kUnbound,  // the field is 0, or its binding was closed meanwhile
  kStale,    // the field holds a value the table has no open binding for
};

// One use of a binding, ended at the end of its scope.
class Use {
 public:
  Use() = default;
  Use(BindingSlot* slot, jint value, UseStatus status)
      : slot_(slot), value_(value), status_(status) {}
  Use(Use&& o) noexcept
      : slot_(std::exchange(o.slot_, nullptr)), value_(o.value_), status_(o.status_) {}
  Use& operator=(Use&& o) noexcept {
    if (this != &o) {
      end();
      slot_ = std::exchange(o.slot_, nullptr);
      value_ = o.value_;
      status_ = o.status_;
    }
    return *this;
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  ~Use() { end(); }

  explicit operator bool() const { return slot_ != nullptr; }
  UseStatus status() const { return status_; }
  jint value() const { return value_; }  // the field value the use was taken from
  IUnknown* object() const;
  BindingSlot* release() { return std::exchange(slot_, nullptr); }
  void end();

 private:
  BindingSlot* slot_ = nullptr;
  jint value_ = 0;
  UseStatus status_ = UseStatus::kUnbound;
};

// True where field values are handles rather than pointers.
inline constexpr bool kHandleBindings = sizeof(void*) > sizeof(jint);

// Binds object, taking over the one reference the caller holds: the field
// value that now stands for it, or 0 when the table is full (the caller
// keeps the reference then).
jint bind(IUnknown* object);

// A use of the open binding that `value` stands for (kStale when there is none).
Use enter_value(jint value);

// A use of the binding in `wrapper`'s int field `field`, checked against the
// field once taken: a value read just before the wrapper was closed or bound
// anew is not used.
Use enter_field(JNIEnv* env, jobject wrapper, jfieldID field);

// Closes one open binding of `value`: no new use, and its reference goes with
// the last use in flight. False when there was none to close.
bool close_value(jint value);

// Ends a use taken by the slot (the C interface hands slots across).
void leave(BindingSlot* slot);
IUnknown* object_of(BindingSlot* slot);

// How many bindings are open (tests).
long open_bindings();

}  // namespace ezjcom
