// The value kinds of member arguments and results: how a Java value becomes an
// argument VARIANT and how a result VARIANT becomes a Java value.
//
// Each kind is a struct with
//   jtype                       the JNI type of the Java value
//   vt                          the VARTYPE it is sent as and read as
//   put(env, value, VARIANT&)   writes vt and the union member; false when a
//                               Java exception is pending and the call must stop
//   get(env, VARIANT&)          the Java value of a result of type vt
//   kOwnsArgument               the argument VARIANT holds a BSTR to clear
//   kCallsJava                  put() calls into Java (may leave an exception)
//   kConversionFailure          for a kind the runtime converts: the HRESULT of
//                               the exception raised when its conversion fails
#pragma once

#include <jni.h>
#include <oaidl.h>
#include <olectl.h>

#include <type_traits>

#include "jni_util.h"
#include "runtime.h"

namespace jtz::kinds {

struct Plain {
  static constexpr bool kOwnsArgument = false;
  static constexpr bool kCallsJava = false;
};

struct Bool : Plain {
  using jtype = jboolean;
  static constexpr VARTYPE vt = VT_BOOL;
  static bool put(JNIEnv*, jboolean v, VARIANT& a) {
    a.vt = VT_BOOL;
    a.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    return true;
  }
  static jboolean get(JNIEnv*, const VARIANT& r) { return r.boolVal != 0 ? JNI_TRUE : JNI_FALSE; }
};

struct Byte : Plain {
  using jtype = jbyte;
  static constexpr VARTYPE vt = VT_UI1;
  static bool put(JNIEnv*, jbyte v, VARIANT& a) {
    a.vt = VT_UI1;
    a.bVal = static_cast<BYTE>(v);
    return true;
  }
  static jbyte get(JNIEnv*, const VARIANT& r) { return static_cast<jbyte>(r.bVal); }
};

struct Short : Plain {
  using jtype = jshort;
  static constexpr VARTYPE vt = VT_I2;
  static bool put(JNIEnv*, jshort v, VARIANT& a) {
    a.vt = VT_I2;
    a.iVal = v;
    return true;
  }
  static jshort get(JNIEnv*, const VARIANT& r) { return r.iVal; }
};

struct Int : Plain {
  using jtype = jint;
  static constexpr VARTYPE vt = VT_I4;
  static bool put(JNIEnv*, jint v, VARIANT& a) {
    a.vt = VT_I4;
    a.lVal = v;
    return true;
  }
  static jint get(JNIEnv*, const VARIANT& r) { return r.lVal; }
};

// The platform's int: sent as VT_INT. No result has this kind.
struct MachineInt : Plain {
  using jtype = jint;
  static constexpr VARTYPE vt = VT_INT;
  static bool put(JNIEnv*, jint v, VARIANT& a) {
    a.vt = VT_INT;
    a.intVal = v;
    return true;
  }
};

// Single precision, results only.
struct Float : Plain {
  using jtype = jfloat;
  static constexpr VARTYPE vt = VT_R4;
  static jfloat get(JNIEnv*, const VARIANT& r) { return r.fltVal; }
};

struct String {
  using jtype = jstring;
  static constexpr VARTYPE vt = VT_BSTR;
  static constexpr bool kOwnsArgument = true;
  static constexpr bool kCallsJava = true;
  static constexpr HRESULT kConversionFailure = E_OUTOFMEMORY;
  // A null string goes to the runtime's conversion as it is, and becomes a
  // null BSTR; any other string that yields none could not be allocated.
  static bool put(JNIEnv* env, jstring v, VARIANT& a) {
    a.vt = VT_BSTR;
    a.bstrVal = ezjcomJstringToBstr(env, v);
    return a.bstrVal || !v;
  }
  static jstring get(JNIEnv* env, const VARIANT& r) { return ezjcomBstrToJstr(env, r.bstrVal); }
};

// An enumeration object of the Java class puente/<Name>, sent as its integer.
template <const char* ClassName>
struct Enumeration {
  using jtype = jobject;
  static constexpr VARTYPE vt = VT_I4;
  static constexpr bool kOwnsArgument = false;
  static constexpr bool kCallsJava = true;
  static constexpr HRESULT kConversionFailure = E_FAIL;
  static bool put(JNIEnv* env, jobject v, VARIANT& a) {
    a.vt = VT_I4;
    a.lVal = ezjcomEnumeratedObjectToInt(env, v);
    return true;
  }
  static jobject get(JNIEnv* env, const VARIANT& r) {
    return ezjcomIntToEnumeratedObject(env, r.lVal, ClassName);
  }
};

// java.awt.Color, sent as a plain RGB OLE_COLOR (0x00BBGGRR).
struct Color {
  using jtype = jobject;
  static constexpr VARTYPE vt = VT_I4;
  static constexpr bool kOwnsArgument = false;
  static constexpr bool kCallsJava = true;
  static constexpr bool kRefusesNull = true;

  static bool put(JNIEnv* env, jobject color, VARIANT& a) {
    LocalRef<jclass> cls(env, env->GetObjectClass(color));
    // Blue, red, green: each accessor looked up on the object's own class.
    jint blue = 0, red = 0, green = 0;
    if (!component(env, cls.get(), color, "getBlue", blue) ||
        !component(env, cls.get(), color, "getRed", red) ||
        !component(env, cls.get(), color, "getGreen", green))
      return false;
    a.vt = VT_I4;
    // Combined without masking, in unsigned arithmetic so no shift overflows.
    a.lVal = static_cast<LONG>((static_cast<uint32_t>(blue) << 16) |
                               (static_cast<uint32_t>(green) << 8) | static_cast<uint32_t>(red));
    return true;
  }

  // OleTranslateColor resolves a system colour to its current RGB. An OLE_COLOR
  // it cannot resolve (an unknown system colour index, a palette form) gives
  // the runtime's exception for its HRESULT and null, never an undefined colour.
  static jobject get(JNIEnv* env, const VARIANT& r) {
    COLORREF rgb = 0;
    const HRESULT hr = OleTranslateColor(static_cast<OLE_COLOR>(r.lVal), nullptr, &rgb);
    if (FAILED(hr)) {
      ezjcomThrowComExceptionObject(env, hr, nullptr);
      return nullptr;
    }
    LocalRef<jclass> cls(env, env->FindClass("java/awt/Color"));
    if (!cls) return nullptr;
    jmethodID init = env->GetMethodID(cls.get(), "<init>", "(III)V");
    if (!init) return nullptr;
    return env->NewObject(cls.get(), init, static_cast<jint>(rgb & 0xFF),
                          static_cast<jint>((rgb >> 8) & 0xFF),
                          static_cast<jint>((rgb >> 16) & 0xFF));
  }

 private:
  static bool component(JNIEnv* env, jclass cls, jobject color, const char* name, jint& out) {
    jmethodID m = env->GetMethodID(cls, name, "()I");
    if (!m) return false;
    out = env->CallIntMethod(color, m);
    return !env->ExceptionCheck();
  }
};

// No value: methods and puts without a result.
struct None {
  using jtype = void;
};

inline constexpr char kTxFormBorderStyle[] = "puente/TxFormBorderStyle";
inline constexpr char kTxEditCharCase[] = "puente/TxEditCharCase";
inline constexpr char kTxDragMode[] = "puente/TxDragMode";
inline constexpr char kTxImeMode[] = "puente/TxImeMode";
#define ENUM_CLASS(Name) using Name = Enumeration<k##Name>;
#include "members.def"

// Whether the runtime converts values of kind K (a fatal error may follow).
template <class K, class = void>
struct ConvertedByRuntime : std::false_type {};
template <class K>
struct ConvertedByRuntime<K, decltype(void(K::kConversionFailure))> : std::true_type {};

template <class K, class = void>
struct RefusesNull {
  static constexpr bool value = false;
};
template <class K>
struct RefusesNull<K, decltype(void(K::kRefusesNull))> {
  static constexpr bool value = K::kRefusesNull;
};

}  // namespace jtz::kinds

// JNI signature letters of each kind, for the exported long names.
#define JTZ_SIG_Bool Z
#define JTZ_SIG_Byte B
#define JTZ_SIG_Short S
#define JTZ_SIG_Int I
#define JTZ_SIG_MachineInt I
#define JTZ_SIG_String Ljava_lang_String_2
#define JTZ_SIG_Color Ljava_awt_Color_2
#define JTZ_SIG_TxFormBorderStyle Lpuente_TxFormBorderStyle_2
#define JTZ_SIG_TxEditCharCase Lpuente_TxEditCharCase_2
#define JTZ_SIG_TxDragMode Lpuente_TxDragMode_2
#define JTZ_SIG_TxImeMode Lpuente_TxImeMode_2
