// The 85 exported natives of puente.IScanMontura, one per row of the member
// table, each the one call frame filled in with its row.
#include <jni.h>

#include "call_frame.h"
#include "values.h"

using namespace jtz;
using namespace jtz::kinds;

#define JTZ_CAT(a, b) JTZ_CAT_(a, b)
#define JTZ_CAT_(a, b) a##b
#define JTZ_CAT3(a, b, c) JTZ_CAT3_(a, b, c)
#define JTZ_CAT3_(a, b, c) a##b##c

#define GETTER(Name, Dispid, Kind)                                                              \
  JNIEXPORT Kind::jtype JNICALL Java_puente_IScanMontura_get##Name(JNIEnv* env, jobject self) { \
    return call<Shape::Get, Kind>(env, self, Dispid);                                           \
  }
#define SETTER(Name, Dispid, Kind)                                                        \
  JNIEXPORT void JNICALL JTZ_CAT(Java_puente_IScanMontura_set##Name##__, JTZ_SIG_##Kind)( \
      JNIEnv * env, jobject self, Kind::jtype value) {                                    \
    call<Shape::Put, None, Kind>(env, self, Dispid, value);                               \
  }
#define PROPERTY(Name, Dispid, Kind) GETTER(Name, Dispid, Kind) SETTER(Name, Dispid, Kind)
#define METHOD(Name, Dispid, Result)                                                           \
  JNIEXPORT Result::jtype JNICALL Java_puente_IScanMontura_##Name(JNIEnv* env, jobject self) { \
    return call<Shape::Method, Result>(env, self, Dispid);                                     \
  }
#define METHOD1(Name, Dispid, Result, Arg)                                                     \
  JNIEXPORT Result::jtype JNICALL JTZ_CAT(Java_puente_IScanMontura_##Name##__, JTZ_SIG_##Arg)( \
      JNIEnv * env, jobject self, Arg::jtype a1) {                                             \
    return call<Shape::Method, Result, Arg>(env, self, Dispid, a1);                            \
  }
#define METHOD2(Name, Dispid, Result, Arg1, Arg2)                                               \
  JNIEXPORT Result::jtype JNICALL JTZ_CAT3(Java_puente_IScanMontura_##Name##__, JTZ_SIG_##Arg1, \
                                           JTZ_SIG_##Arg2)(JNIEnv * env, jobject self,          \
                                                           Arg1::jtype a1, Arg2::jtype a2) {    \
    return call<Shape::Method, Result, Arg1, Arg2>(env, self, Dispid, a1, a2);                  \
  }

extern "C" {
#include "members.def"
}
