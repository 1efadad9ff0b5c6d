// The Java exception of a failed COM call: class, HRESULT, texts, message,
// the deferred fill-in, and the EXCEPINFO strings freed.
#include <gtest/gtest.h>

#include <string>

#include "jvm.h"
#include "runtime_api.h"

namespace {

struct Thrown {
  std::string class_name;
  jint hr = 0;
  std::string source, description, message;
  bool source_null = true, description_null = true;
};

std::string text(JNIEnv* env, jstring s) {
  const char* c = env->GetStringUTFChars(s, nullptr);
  std::string out = c;
  env->ReleaseStringUTFChars(s, c);
  return out;
}

// Takes the pending exception and reads it as a JComException.
Thrown take_com_exception(JNIEnv* env) {
  Thrown t;
  jthrowable e = env->ExceptionOccurred();
  if (!e) return t;
  env->ExceptionClear();
  jclass cls = env->GetObjectClass(e);
  jclass class_class = env->FindClass("java/lang/Class");
  jmethodID get_name = env->GetMethodID(class_class, "getName", "()Ljava/lang/String;");
  auto name = static_cast<jstring>(env->CallObjectMethod(cls, get_name));
  EXPECT_FALSE(env->ExceptionCheck());
  t.class_name = text(env, name);
  env->DeleteLocalRef(name);
  env->DeleteLocalRef(class_class);
  if (t.class_name == "ezjcom.JComException") {
    t.hr = env->CallIntMethod(e, env->GetMethodID(cls, "getHResult", "()I"));
    EXPECT_FALSE(env->ExceptionCheck());
    auto read = [&](const char* getter, std::string& out, bool& was_null) {
      auto s = static_cast<jstring>(
          env->CallObjectMethod(e, env->GetMethodID(cls, getter, "()Ljava/lang/String;")));
      EXPECT_FALSE(env->ExceptionCheck());
      was_null = s == nullptr;
      if (s) out = text(env, s);
      env->DeleteLocalRef(s);
    };
    read("getComSource", t.source, t.source_null);
    read("getDescription", t.description, t.description_null);
    bool message_null;
    read("getMessage", t.message, message_null);
  }
  env->DeleteLocalRef(cls);
  env->DeleteLocalRef(e);
  return t;
}

TEST(ComException, CarriesHresultSourceAndDescriptionAndFreesTheExcepinfoStrings) {
  JNIEnv* env = jtz::test::env();
  const long before = jtzcom_live_bstrs();
  EXCEPINFO ei{};
  ei.bstrSource = SysAllocString(u"ScanMontura");
  ei.bstrDescription = SysAllocString(u"Puerto no v\u00E1lido");
  ei.bstrHelpFile = SysAllocString(u"scan.hlp");
  EXPECT_EQ(ezjcomThrowComExceptionObject(env, E_INVALIDARG, &ei), 0);
  EXPECT_EQ(ei.bstrSource, nullptr);
  EXPECT_EQ(ei.bstrDescription, nullptr);
  EXPECT_EQ(ei.bstrHelpFile, nullptr);
  EXPECT_EQ(jtzcom_live_bstrs(), before);
  const Thrown t = take_com_exception(env);
  EXPECT_EQ(t.class_name, "ezjcom.JComException");
  EXPECT_EQ(t.hr, static_cast<jint>(0x80070057));
  EXPECT_EQ(t.source, "ScanMontura");
  EXPECT_EQ(t.description, "Puerto no v\u00E1lido");
  EXPECT_EQ(t.message, "COM error 0x80070057: Puerto no v\u00E1lido");
}

TEST(ComException, WithoutExcepinfoOrDescriptionTheMessageIsTheHresultAlone) {
  JNIEnv* env = jtz::test::env();
  ezjcomThrowComExceptionObject(env, static_cast<HRESULT>(0x800706BA), nullptr);
  Thrown t = take_com_exception(env);
  EXPECT_EQ(t.class_name, "ezjcom.JComException");
  EXPECT_EQ(t.hr, static_cast<jint>(0x800706BA));
  EXPECT_TRUE(t.source_null);
  EXPECT_TRUE(t.description_null);
  EXPECT_EQ(t.message, "COM error 0x800706BA");

  EXCEPINFO empty{};  // zero-filled, as the bridge passes it when the component said nothing
  ezjcomThrowComExceptionObject(env, E_FAIL, &empty);
  t = take_com_exception(env);
  EXPECT_EQ(t.hr, static_cast<jint>(0x80004005));
  EXPECT_EQ(t.message, "COM error 0x80004005");
}

int g_fill_calls = 0;
HRESULT STDMETHODCALLTYPE fill_in(EXCEPINFO* ei) {
  ++g_fill_calls;
  ei->bstrDescription = SysAllocString(u"filled late");
  return S_OK;
}

TEST(ComException, DeferredFillInRunsOnceBeforeTheTextsAreRead) {
  JNIEnv* env = jtz::test::env();
  const long before = jtzcom_live_bstrs();
  g_fill_calls = 0;
  EXCEPINFO ei{};
  ei.pfnDeferredFillIn = fill_in;
  ezjcomThrowComExceptionObject(env, DISP_E_EXCEPTION, &ei);
  EXPECT_EQ(g_fill_calls, 1);
  EXPECT_EQ(ei.bstrDescription, nullptr);
  EXPECT_EQ(jtzcom_live_bstrs(), before);
  const Thrown t = take_com_exception(env);
  EXPECT_EQ(t.description, "filled late");
  EXPECT_EQ(t.message, "COM error 0x80020009: filled late");
}

TEST(ComException, AnExceptionAlreadyPendingStaysAndTheStringsAreStillFreed) {
  JNIEnv* env = jtz::test::env();
  const long before = jtzcom_live_bstrs();
  jclass ise = env->FindClass("java/lang/IllegalStateException");
  env->ThrowNew(ise, "first");
  env->DeleteLocalRef(ise);
  EXCEPINFO ei{};
  ei.bstrDescription = SysAllocString(u"second");
  ezjcomThrowComExceptionObject(env, E_FAIL, &ei);
  EXPECT_EQ(jtzcom_live_bstrs(), before);
  EXPECT_EQ(jtz::test::take_exception(env), "java.lang.IllegalStateException: first");
}

}  // namespace
