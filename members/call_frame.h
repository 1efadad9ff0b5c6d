// The one dispatch call that every member native is: read the binding, build
// the arguments, make one ezjcomInvokeHelper call, release, report.
#pragma once

#include <jni.h>
#include <oaidl.h>

#include <cstddef>
#include <type_traits>
#include <utility>

#include "jni_util.h"
#include "runtime.h"
#include "values.h"

namespace jtz {

// The three invocation shapes.
enum class Shape : WORD {
  Get = DISPATCH_PROPERTYGET,
  Put = DISPATCH_PROPERTYPUT,
  Method = DISPATCH_METHOD,
};

// The argument VARIANTs of one call, Java parameters last-first. Only the
// type tag and the value member are written. A string argument's BSTR is
// cleared by release(), or at the end of the scope on an early return.
template <class... Args>
class Arguments {
 public:
  static constexpr size_t kCount = sizeof...(Args);

  Arguments() = default;
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  ~Arguments() { release(); }

  // Converts each Java value into its slot; false, with a Java exception
  // pending, when a conversion failed (the call must then not be made): it
  // raised one, or the runtime's conversion gave nothing or left a fatal error.
  bool build(JNIEnv* env, typename Args::jtype... values) {
    return build_each(env, std::index_sequence_for<Args...>{}, values...);
  }

  VARIANT* slots() { return kCount ? slots_ : nullptr; }

  void release() { release_each(std::index_sequence_for<Args...>{}); }

 private:
  template <size_t... I>
  bool build_each([[maybe_unused]] JNIEnv* env, std::index_sequence<I...>,
                  typename Args::jtype... values) {
    return (build_one<I, Args>(env, values) && ...);
  }

  template <size_t I, class Kind>
  bool build_one(JNIEnv* env, typename Kind::jtype value) {
    VARIANT& slot = slots_[kCount - 1 - I];
    const bool put = Kind::put(env, value, slot);
    if constexpr (Kind::kOwnsArgument) built_[I] = true;
    if constexpr (kinds::ConvertedByRuntime<Kind>::value) {
      // The runtime reports a failed conversion as a fatal error; the call
      // must not go on with what the conversion left.
      if (fatal_error(env) || !put) {
        if (!env->ExceptionCheck())
          ezjcomThrowComExceptionObject(env, Kind::kConversionFailure, nullptr);
        return false;
      }
    }
    if (!put) return false;
    if constexpr (Kind::kCallsJava) return !env->ExceptionCheck();
    return true;
  }

  template <size_t... I>
  void release_each(std::index_sequence<I...>) {
    (release_one<I, Args>(), ...);
  }

  template <size_t I, class Kind>
  void release_one() {
    if constexpr (Kind::kOwnsArgument) {
      if (built_[I]) VariantClear(&slots_[kCount - 1 - I]);
      built_[I] = false;
    }
  }

  VARIANT slots_[kCount ? kCount : 1];
  bool built_[kCount ? kCount : 1] = {};
};

// The result VARIANT: set up with VariantInit, cleared at the end of the
// scope on every path. After a failure or a fatal error it holds nothing the
// caller reads, but a component may still have put a BSTR in it.
class Result {
 public:
  Result() { VariantInit(&v_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  ~Result() {
    if (holds_resource(v_.vt)) VariantClear(&v_);
  }
  VARIANT* get() { return &v_; }

  // Takes over a successful call's result and brings it to the member's type:
  // S_OK, or the HRESULT of a coercion that failed. A result of the same size
  // and the other signedness is the same bits (an OLE_COLOR often travels as
  // VT_UI4); another type is coerced, but never an object, whose value the
  // coercion would fetch with a second call.
  HRESULT take(VARTYPE expected) {
    if (v_.vt == expected || same_bits(v_.vt, expected)) return S_OK;
    if (holds_object(v_)) return DISP_E_TYPEMISMATCH;
    return VariantChangeType(&v_, &v_, 0, expected);
  }

 private:
  // An object, by value or by reference, or in the VARIANT that a VT_BYREF |
  // VT_VARIANT refers to: the coercion follows that reference once.
  static bool holds_object(const VARIANT& v) {
    const VARIANT& value = v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal ? *v.pvarVal : v;
    const VARTYPE base = value.vt & VT_TYPEMASK;
    return base == VT_DISPATCH || base == VT_UNKNOWN;
  }

  static bool same_bits(VARTYPE got, VARTYPE expected) {
    switch (expected) {
      case VT_UI1: return got == VT_I1;
      case VT_I2: return got == VT_UI2;
      case VT_I4: return got == VT_UI4 || got == VT_INT || got == VT_UINT;
      default: return false;
    }
  }

  // Numbers, booleans and VT_EMPTY own nothing: clearing them is a no-op
  // not worth a call on every member call.
  static bool holds_resource(VARTYPE vt) {
    switch (vt) {
      case VT_EMPTY:
      case VT_NULL:
      case VT_I2:
      case VT_I4:
      case VT_R4:
      case VT_R8:
      case VT_CY:
      case VT_DATE:
      case VT_ERROR:
      case VT_BOOL:
      case VT_I1:
      case VT_UI1:
      case VT_UI2:
      case VT_UI4:
      case VT_I8:
      case VT_UI8:
      case VT_INT:
      case VT_UINT: return false;
      default: return true;
    }
  }

  VARIANT v_;
};

template <class R>
using java_t = typename R::jtype;

// The EXCEPINFO of one call. The runtime frees its strings when it reports a
// failure; whatever is still held at the end of the call (a component that
// filled it before a fatal error) is freed here.
class ExcepInfo {
 public:
  ExcepInfo() = default;
  ExcepInfo(const ExcepInfo&) = delete;
  ExcepInfo& operator=(const ExcepInfo&) = delete;
  ~ExcepInfo() {
    if (e_.bstrSource) SysFreeString(e_.bstrSource);
    if (e_.bstrDescription) SysFreeString(e_.bstrDescription);
    if (e_.bstrHelpFile) SysFreeString(e_.bstrHelpFile);
  }
  EXCEPINFO* get() { return &e_; }

 private:
  EXCEPINFO e_{};
};

// True for the null value of a kind that refuses null (the colour).
template <class Kind>
bool refused_null(typename Kind::jtype value) {
  if constexpr (kinds::RefusesNull<Kind>::value)
    return value == nullptr;
  else
    return false;
}

// One member call. R is the result kind, Args the argument kinds in Java order.
template <Shape S, class R, class... Args>
java_t<R> call(JNIEnv* env, jobject self, DISPID dispid, typename Args::jtype... values) {
  using Ret = java_t<R>;
  // 1-2. The binding, held for the whole call: a close on another thread
  // gives the reference back only once the call is over.
  ComIdUse binding(env, self);
  if (!binding) {
    throw_unusable(env, binding.status());
    return zero_value<Ret>();
  }
  auto* dispatch = binding.get<IDispatch>();
  // 3. Parameters, and the named argument of a put.
  DISPPARAMS params{};
  ExcepInfo excep;
  DISPID named = DISPID_PROPERTYPUT;
  if constexpr (S == Shape::Put) {
    params.cNamedArgs = 1;
    params.rgdispidNamedArgs = &named;
  }
  // 4. Arguments. A null colour is refused before anything is converted.
  if ((refused_null<Args>(values) || ...)) {
    throw_new(env, kNullPointer, "Argument 1 is null");
    return zero_value<Ret>();
  }
  Arguments<Args...> args;
  if (!args.build(env, values...)) return zero_value<Ret>();
  // 5-6. The call.
  Result result;
  params.cArgs = static_cast<UINT>(Arguments<Args...>::kCount);
  params.rgvarg = args.slots();
  UINT argErr = 0;
  const HRESULT hr = ezjcomInvokeHelper(env, dispatch, dispid, &params, static_cast<WORD>(S),
                                        excep.get(), &argErr, result.get());
  // 7. String arguments are released whatever the outcome.
  args.release();
  // 8-9. Fatal error, then failure.
  if (fatal_error(env)) return zero_value<Ret>();
  if (FAILED(hr)) {
    ezjcomThrowComExceptionObject(env, hr, excep.get());
    return zero_value<Ret>();
  }
  // 10. The result.
  if constexpr (std::is_void_v<Ret>) {
    return;
  } else {
    if (const HRESULT taken = result.take(R::vt); FAILED(taken)) {
      ezjcomThrowComExceptionObject(env, taken, nullptr);
      return zero_value<Ret>();
    }
    return R::get(env, *result.get());
  }
}

}  // namespace jtz
