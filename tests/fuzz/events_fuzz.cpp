// Fuzzing target: the event sink's Invoke, as a component calls it, delivering to Java listeners
// on a real JVM (-Xcheck:jni, every warning fatal).
//
// Each input picks a receiver (a listener with every method, one that throws, one without
// methods, one whose methods have the wrong signatures, or server-side delivery with the gate
// open or shut), what it does with a key (change it, leave it, throw), a DISPID, flags, and
// DISPPARAMS: any number of arguments of any VARTYPE, by value or by reference (to storage of
// exactly the referenced type's size, or null), strings of any length, named arguments with any
// DISPIDs. Checked after each event:
// - Invoke answers S_OK and leaves no Java exception pending and no local reference behind;
//   global references are counted every few thousand inputs;
// - exactly the receiver's method of the event's name was called, once, or none;
// - the key arrives as its byte when it fits one byte without loss, else as null;
// - a by-reference key is written back only when the receiver changed a key it saw and returned
//   normally, in the key's own type; nothing else the component passed is written to;
// - every BSTR the input made is still there to be freed, and nothing more was allocated.
#include <ezjcom/testing.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <oaidl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_jvm.h"
#include "fuzz_values.h"

using jtz::fuzz::broken;
using jtz::fuzz::referenced_size;

namespace {

JNIEnv* g_env = nullptr;
IDispatch* g_sinks[4] = {};  // full, bare, odd, server-side
jclass g_targets = nullptr;  // jtzfuzz/EventTargets
jfieldID g_replace, g_fail, g_fail_callbacks, g_calls, g_saw_null, g_saw_key, g_changed;

enum Mode { kFull, kThrows, kBare, kOdd, kServerSide, kModes };

// A byte region the component passed: it must read the same afterwards unless it is the key.
struct Region {
  void* at;
  size_t size;
  std::vector<unsigned char> before;
  void snapshot() {
    before.assign(static_cast<unsigned char*>(at), static_cast<unsigned char*>(at) + size);
  }
  bool unchanged() const { return size == 0 || std::memcmp(at, before.data(), size) == 0; }
};

// What one input passes to Invoke, kept alive and owned until the input ends.
struct Call {
  std::vector<std::unique_ptr<unsigned char[]>> storage;
  std::vector<BSTR> bstrs;
  std::vector<Region> regions;
  std::unique_ptr<VARIANT[]> args;
  std::unique_ptr<DISPID[]> named;
  DISPPARAMS params{};
  ~Call() {
    for (BSTR b : bstrs) SysFreeString(b);
  }
  void* cell(size_t size, FuzzedDataProvider& in) {
    storage.push_back(std::make_unique<unsigned char[]>(size ? size : 1));
    std::vector<unsigned char> bits = in.ConsumeBytes<unsigned char>(size);
    bits.resize(size);
    std::memcpy(storage.back().get(), bits.data(), size);
    regions.push_back({storage.back().get(), size, {}});
    return storage.back().get();
  }
};

BSTR fuzz_bstr(FuzzedDataProvider& in) {
  const size_t n = in.ConsumeIntegralInRange(0, 15) == 0
                       ? in.ConsumeIntegralInRange<size_t>(0, 70000)
                       : in.ConsumeIntegralInRange<size_t>(0, 40);
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n));
  const OLECHAR c = in.ConsumeIntegral<OLECHAR>();
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<OLECHAR>(c + i);
  return b;
}

void fuzz_argument(FuzzedDataProvider& in, Call& call, VARIANT* v, bool inner) {
  static const VARTYPE kTypes[] = {
      VT_EMPTY, VT_NULL, VT_I2,      VT_I4,      VT_R4,      VT_R8,  VT_BSTR, VT_DISPATCH,
      VT_ERROR, VT_BOOL, VT_VARIANT, VT_UNKNOWN, VT_I1,      VT_UI1, VT_UI2,  VT_UI4,
      VT_I8,    VT_UI8,  VT_INT,     VT_UINT,    VT_DECIMAL, VT_CY};
  static const VARTYPE kKeys[] = {VT_UI1, VT_I1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT, VT_UINT};
  VARIANT value;
  std::memset(&value, 0, sizeof value);
  VARTYPE vt;
  switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0: vt = in.ConsumeIntegral<VARTYPE>(); break;
    case 1:
    case 2:
    case 3: vt = in.PickValueInArray(kTypes); break;
    default: vt = in.PickValueInArray(kKeys); break;
  }
  if (in.ConsumeBool()) vt |= VT_BYREF;
  if (inner && (vt & VT_TYPEMASK) == VT_VARIANT) vt = VT_I4;
  const VARTYPE base = vt & VT_TYPEMASK;
  value.vt = vt;
  if (vt & VT_BYREF) {
    if (in.ConsumeIntegralInRange(0, 9) == 0) {
      value.byref = nullptr;
    } else if (base == VT_VARIANT) {
      auto* referenced = static_cast<VARIANT*>(call.cell(sizeof(VARIANT), in));
      fuzz_argument(in, call, referenced, true);
      value.byref = referenced;
    } else {
      value.byref = call.cell(referenced_size(base), in);
      if (base == VT_BSTR || base == VT_DISPATCH || base == VT_UNKNOWN) {
        // A BSTR or a null object behind the reference: never an address to follow blindly.
        BSTR b = base == VT_BSTR && in.ConsumeBool() ? fuzz_bstr(in) : nullptr;
        if (b) call.bstrs.push_back(b);
        std::memcpy(value.byref, &b, sizeof b);
      } else if (in.ConsumeBool()) {
        // Keys mostly about the byte range.
        const long long key = in.ConsumeIntegralInRange<long long>(-300, 300);
        std::memcpy(value.byref, &key, std::min(referenced_size(base), sizeof key));
      }
    }
  } else if (base == VT_BSTR && !(vt & ~VT_TYPEMASK)) {
    value.bstrVal = in.ConsumeIntegralInRange(0, 9) == 0 ? nullptr : fuzz_bstr(in);
    if (value.bstrVal) call.bstrs.push_back(value.bstrVal);
  } else if ((base == VT_DISPATCH || base == VT_UNKNOWN || base == VT_VARIANT) ||
             (vt & ~VT_TYPEMASK)) {
    value.llVal = 0;  // no object, and no other pointer to follow
  } else if (in.ConsumeBool()) {
    value.llVal = in.ConsumeIntegralInRange<long long>(-300, 300);
  } else {
    value.llVal = in.ConsumeIntegral<long long>();
  }
  *v = value;
}

bool delivers(Mode mode, DISPID dispid) {
  switch (mode) {
    case kFull:
    case kThrows:
    case kServerSide: return dispid == 1 || dispid == 2 || dispid == 3 || dispid == 9;
    case kOdd: return dispid == 1;  // the others have the wrong signature, or are static
    default: return false;
  }
}

// The byte a key stands for, when it fits one without loss.
bool key_byte(const VARIANT& v, signed char* out) {
  const bool byref = (v.vt & VT_BYREF) != 0;
  if (byref && !v.byref) return false;
  const void* at = byref ? v.byref : static_cast<const void*>(&v.llVal);
  long long code;
  switch (v.vt & ~VT_BYREF) {
    case VT_UI1:
    case VT_I1: *out = *static_cast<const signed char*>(at); return true;
    case VT_I2: code = *static_cast<const int16_t*>(at); break;
    case VT_UI2: code = *static_cast<const uint16_t*>(at); break;
    case VT_I4:
    case VT_INT: code = *static_cast<const int32_t*>(at); break;
    case VT_UI4:
    case VT_UINT: code = *static_cast<const uint32_t*>(at); break;
    default: return false;
  }
  if (code < 0 || code > 255) return false;
  *out = static_cast<signed char>(code);
  return true;
}

void set_up() {
  g_env = jtz::fuzz::start_jvm();
  JNIEnv* e = g_env;
  ezjcomTestJournalEnable(0);
  jclass targets = e->FindClass("jtzfuzz/EventTargets");
  if (!targets) {
    e->ExceptionDescribe();
    broken("jtzfuzz/EventTargets not found");
  }
  g_targets = static_cast<jclass>(e->NewGlobalRef(targets));
  e->DeleteLocalRef(targets);
  auto field = [e](const char* name, const char* sig) {
    jfieldID f = e->GetStaticFieldID(g_targets, name, sig);
    if (!f) broken("field missing", name);
    return f;
  };
  g_replace = field("replaceKey", "I");
  g_fail = field("fail", "Z");
  g_fail_callbacks = field("failCallbacks", "Z");
  g_calls = field("calls", "I");
  g_saw_null = field("sawNullKey", "Z");
  g_saw_key = field("sawKey", "B");
  g_changed = field("changedKey", "Z");
  auto ids = static_cast<jintArray>(
      e->CallStaticObjectMethod(g_targets, e->GetStaticMethodID(g_targets, "sinks", "()[I")));
  if (!ids || e->ExceptionCheck()) {
    e->ExceptionDescribe();
    broken("the listeners could not be made");
  }
  jint fields[4];
  e->GetIntArrayRegion(ids, 0, 4, fields);
  e->DeleteLocalRef(ids);
  for (int i = 0; i < 4; ++i) {
    g_sinks[i] = static_cast<IDispatch*>(ezjcomTestObjectOf(fields[i]));
    if (!g_sinks[i]) broken("a listener has no sink");
    g_sinks[i]->AddRef();  // ours: the sinks live as long as the process
  }
  jtz::fuzz::check_jni_clean("set-up");
}

void run_one(const uint8_t* data, size_t size) {
  JNIEnv* e = g_env;
  FuzzedDataProvider in(data, size);
  const long bstrs_at_start = jtzcom_live_bstrs();

  const Mode mode = static_cast<Mode>(in.ConsumeIntegralInRange<int>(0, kModes - 1));
  const bool gate = mode != kServerSide || in.ConsumeIntegralInRange(0, 7) != 0;
  ezjcomTestSetServerSideEvents(gate ? 1 : 0);
  const int replace = in.ConsumeBool() ? -1 : in.ConsumeIntegralInRange(0, 255);
  const bool fails =
      mode == kThrows || (mode == kServerSide && in.ConsumeIntegralInRange(0, 3) == 0);
  e->SetStaticIntField(g_targets, g_replace, replace);
  e->SetStaticBooleanField(g_targets, g_fail, fails);
  e->SetStaticBooleanField(g_targets, g_fail_callbacks, in.ConsumeBool());
  e->SetStaticIntField(g_targets, g_calls, 0);
  e->SetStaticBooleanField(g_targets, g_saw_null, false);
  e->SetStaticByteField(g_targets, g_saw_key, 0);
  e->SetStaticBooleanField(g_targets, g_changed, false);

  static const DISPID kDispids[] = {1, 2, 3, 9, 9, 9, 0, -1, 4, 8, 10};
  const DISPID dispid = in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<DISPID>()
                                                             : in.PickValueInArray(kDispids);
  const WORD flags = in.ConsumeIntegral<WORD>();
  const LCID lcid = in.ConsumeIntegral<LCID>();

  auto owned = std::make_unique<Call>();
  Call& call = *owned;
  const bool no_params = in.ConsumeIntegralInRange(0, 15) == 0;
  const UINT count = in.ConsumeIntegralInRange(0, 15) == 0 ? in.ConsumeIntegralInRange<UINT>(0, 40)
                                                           : in.ConsumeIntegralInRange<UINT>(0, 3);
  if (count > 0 || in.ConsumeBool()) {
    call.args.reset(new VARIANT[count ? count : 1]);
    for (UINT i = 0; i < count; ++i) fuzz_argument(in, call, &call.args[i], false);
    call.regions.push_back({call.args.get(), sizeof(VARIANT) * count, {}});
  }
  const UINT named_count = in.ConsumeIntegralInRange<UINT>(0, count);
  if (named_count > 0) {
    call.named.reset(new DISPID[named_count]);
    for (UINT i = 0; i < named_count; ++i)
      call.named[i] =
          in.ConsumeBool() ? in.ConsumeIntegralInRange(-3, 2) : in.ConsumeIntegral<DISPID>();
    call.regions.push_back({call.named.get(), sizeof(DISPID) * named_count, {}});
  }
  call.params = {call.args.get(), call.named.get(), count, named_count};
  VARIANT result;
  std::memset(&result, 0x5A, sizeof result);
  EXCEPINFO excep;
  std::memset(&excep, 0x5A, sizeof excep);
  UINT arg_err = 0x5A5A5A5A;
  call.regions.push_back({&result, sizeof result, {}});
  call.regions.push_back({&excep, sizeof excep, {}});
  call.regions.push_back({&arg_err, sizeof arg_err, {}});
  for (Region& r : call.regions) r.snapshot();

  // The key the receiver should see, and where it lives.
  const VARIANT* key = nullptr;
  if (dispid == 9 && !no_params && call.args && count > 0) {
    UINT index = 0;
    for (UINT i = 0; i < named_count; ++i)
      if (call.named[i] == 0) {
        index = i;
        break;
      }
    key = &call.args[index];
  }
  signed char key_before = 0;
  const bool key_fits = key && key_byte(*key, &key_before);

  HRESULT hr;
  {
    hr = g_sinks[mode == kServerSide ? 3
                 : mode == kOdd      ? 2
                 : mode == kBare     ? 1
                                     : 0]
             ->Invoke(dispid, IID_NULL, lcid, flags, no_params ? nullptr : &call.params,
                      in.ConsumeBool() ? &result : nullptr, in.ConsumeBool() ? &excep : nullptr,
                      in.ConsumeBool() ? &arg_err : nullptr);
    if (e->ExceptionCheck()) {
      e->ExceptionDescribe();
      broken("Invoke left a Java exception pending");
    }
  }
  if (hr != S_OK) broken("Invoke did not answer S_OK");

  // Who received what.
  const int calls = e->GetStaticIntField(g_targets, g_calls);
  const bool delivered = gate && delivers(mode, dispid);
  if (calls != (delivered ? 1 : 0))
    broken(delivered ? "the event was not delivered once"
                     : "an event was delivered that should not be");
  const bool changed = e->GetStaticBooleanField(g_targets, g_changed);
  if (delivered && dispid == 9) {
    const bool saw_null = e->GetStaticBooleanField(g_targets, g_saw_null);
    const auto saw = static_cast<signed char>(e->GetStaticByteField(g_targets, g_saw_key));
    if (saw_null == key_fits)
      broken(key_fits ? "a key that fits a byte arrived as null"
                      : "a key that fits no byte arrived");
    if (key_fits && saw != key_before) broken("the key arrived as another byte");
  }
  jtz::fuzz::check_jni_clean("after the event");

  // What was written back: only a changed key a receiver saw and returned from normally.
  const bool write_back = delivered && dispid == 9 && key_fits && (key->vt & VT_BYREF) && changed &&
                          !fails && static_cast<signed char>(replace) != key_before;
  for (const Region& r : call.regions) {
    const bool is_key = key && (key->vt & VT_BYREF) && r.at == key->byref;
    if (is_key && write_back) {
      signed char now = 0;
      if (!key_byte(*key, &now) || now != static_cast<signed char>(replace))
        broken("the changed key was not written back as the receiver left it");
      continue;
    }
    if (!r.unchanged())
      broken(is_key ? "the key was written though it should stay"
                    : "Invoke wrote to what the component passed");
  }
  owned.reset();
  if (jtzcom_live_bstrs() != bstrs_at_start) broken("BSTRs were freed or made by Invoke");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  set_up();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static jtz::fuzz::ReferenceWatch watch(run_one);
  run_one(data, size);
  watch.after(data, size);
  return 0;
}
