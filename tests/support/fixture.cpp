#include "fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdint>

#include "bridge/runtime.h"

namespace jtz::test {

Global::Global(jobject local) {
  JNIEnv* e = env();
  if (local) {
    ref_ = e->NewGlobalRef(local);
    e->DeleteLocalRef(local);
  }
}

Global& Global::operator=(Global&& o) noexcept {
  if (this != &o) {
    if (ref_) env()->DeleteGlobalRef(ref_);
    ref_ = o.ref_;
    o.ref_ = nullptr;
  }
  return *this;
}

Global::~Global() {
  if (ref_) env()->DeleteGlobalRef(ref_);
}

namespace {
jint int_field(jobject o, const char* cls, const char* name) {
  JNIEnv* e = env();
  EXPECT_FALSE(e->ExceptionCheck()) << "an exception is pending";
  jclass c = e->FindClass(cls);
  jint v = e->GetIntField(o, e->GetFieldID(c, name, "I"));
  e->DeleteLocalRef(c);
  return v;
}
}  // namespace

jint com_id(jobject wrapper) { return int_field(wrapper, "ezjcom/JComObject", "comId"); }
jint event_id(jobject listener) {
  return int_field(listener, "ezjcom/JComEventListener", "eventId");
}

void set_com_id(jobject wrapper, jint value) {
  JNIEnv* e = env();
  EXPECT_FALSE(e->ExceptionCheck()) << "an exception is pending";
  jclass c = e->FindClass("ezjcom/JComObject");
  e->SetIntField(wrapper, e->GetFieldID(c, "comId", "I"), value);
  e->DeleteLocalRef(c);
}

IUnknown* com_object(jobject wrapper) {
  EzjcomComUse use{};
  if (ezjcomEnterComId(env(), wrapper, &use) != EZJCOM_USE_OK) return nullptr;
  IUnknown* object = use.object;  // the wrapper's own reference keeps it
  ezjcomLeaveComId(&use);
  return object;
}

Global new_component() {
  JNIEnv* e = env();
  jclass c = e->FindClass("puente/ScanMontura");
  jmethodID create = e->GetStaticMethodID(c, "create", "()Lpuente/ScanMontura;");
  jobject o = e->CallStaticObjectMethod(c, create);
  EXPECT_EQ(take_exception(e), "");
  e->DeleteLocalRef(c);
  return Global(o);
}

Global bind_dispatch(jobject component) {
  JNIEnv* e = env();
  jclass c = e->FindClass("puente/ScanMontura");
  jmethodID m = e->GetMethodID(c, "dispatch", "()Lpuente/IScanMontura;");
  jobject o = e->CallObjectMethod(component, m);
  EXPECT_EQ(take_exception(e), "");
  e->DeleteLocalRef(c);
  return Global(o);
}

Ref<ISimControl> sim_control(jobject wrapper) {
  void* p = nullptr;
  IUnknown* u = com_object(wrapper);
  if (u) u->QueryInterface(IID_ISimControl, &p);
  return Ref<ISimControl>(static_cast<ISimControl*>(p));
}

Global new_object(const char* slashClass) {
  JNIEnv* e = env();
  EXPECT_FALSE(e->ExceptionCheck()) << "an exception is pending";
  jclass c = e->FindClass(slashClass);
  if (!c) {
    ADD_FAILURE() << "no class " << slashClass << ": " << take_exception(e);
    return Global();
  }
  jobject o = e->NewObject(c, e->GetMethodID(c, "<init>", "()V"));
  e->DeleteLocalRef(c);
  EXPECT_EQ(take_exception(e), "");
  return Global(o);
}

std::string str(jstring s) {
  JNIEnv* e = env();
  EXPECT_FALSE(e->ExceptionCheck()) << "an exception is pending";
  if (!s) return "<null>";
  const char* c = e->GetStringUTFChars(s, nullptr);
  std::string out = c;
  e->ReleaseStringUTFChars(s, c);
  return out;
}

std::vector<std::string> recorded(jobject listener) {
  JNIEnv* e = env();
  EXPECT_FALSE(e->ExceptionCheck()) << "an exception is pending";
  jclass c = e->GetObjectClass(listener);
  jobject rec = e->GetObjectField(listener, e->GetFieldID(c, "calls", "Ljtztest/Recorder;"));
  jclass rc = e->GetObjectClass(rec);
  auto arr = static_cast<jobjectArray>(
      e->CallObjectMethod(rec, e->GetMethodID(rc, "lines", "()[Ljava/lang/String;")));
  EXPECT_EQ(take_exception(e), "");
  std::vector<std::string> out;
  for (jsize i = 0, n = arr ? e->GetArrayLength(arr) : 0; i < n; ++i) {
    auto s = static_cast<jstring>(e->GetObjectArrayElement(arr, i));
    out.push_back(str(s));
    e->DeleteLocalRef(s);
  }
  e->DeleteLocalRef(arr);
  e->DeleteLocalRef(rc);
  e->DeleteLocalRef(rec);
  e->DeleteLocalRef(c);
  return out;
}

std::string guid_text(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

}  // namespace jtz::test
