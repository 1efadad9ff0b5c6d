// The test hooks' C API (ezjcom/testing.h) and the natives of
// ezjcom.RuntimeTesting: in the test variant of the library only.
#include "ezjcom/testing.h"

#include <string>

#include "bindings.h"
#include "hooks.h"
#include "hooks_admin.h"
#include "jvm.h"
#include "local_ref.h"
#include "runtime_state.h"
#include "thread_state.h"

using namespace ezjcom;

EZJCOM_TEST_API void ezjcomTestReset() {
  hooks_reset();
  clear_all_fatal();
  g_server_side_events.store(true, std::memory_order_relaxed);
  server_side_record_reset();
}

EZJCOM_TEST_API void ezjcomTestJournalEnable(int on) { hooks_journal_enable(on != 0); }

EZJCOM_TEST_API size_t ezjcomTestJournal(char* buf, size_t cap) {
  return hooks_journal_copy(buf, cap);
}

EZJCOM_TEST_API void ezjcomTestForceHresult(const char* op, HRESULT hr, int times) {
  hooks_force(op, hr, times);
}

EZJCOM_TEST_API void ezjcomTestFatalAfter(const char* op, int nth) { hooks_fatal_after(op, nth); }

EZJCOM_TEST_API void ezjcomTestSetServerSideEvents(int on) {
  g_server_side_events.store(on != 0, std::memory_order_relaxed);
}

EZJCOM_TEST_API void ezjcomTestLastServerSide(EzjcomServerSideRecord* out) {
  if (out) server_side_record_copy(out);
}

EZJCOM_TEST_API long ezjcomTestHeldGlobalRefs() {
  return g_held_global_refs.load(std::memory_order_relaxed);
}

EZJCOM_TEST_API long ezjcomTestHeldWeakRefs() {
  return g_held_weak_refs.load(std::memory_order_relaxed);
}

EZJCOM_TEST_API long ezjcomTestAttachedThreads() {
  return g_attached_live.load(std::memory_order_relaxed);
}

EZJCOM_TEST_API long ezjcomTestAttachedThreadsTotal() {
  return g_attached_total.load(std::memory_order_relaxed);
}

EZJCOM_TEST_API jint ezjcomTestBind(IUnknown* object) { return bind(object); }

EZJCOM_TEST_API long ezjcomTestOpenBindings() { return open_bindings(); }

EZJCOM_TEST_API IUnknown* ezjcomTestObjectOf(jint value) { return enter_value(value).object(); }

EZJCOM_TEST_API long ezjcomTestOpenConnections() { return open_connections(); }

EZJCOM_TEST_API const char* ezjcomTestIidMapClass(const IID* iid) {
  return iid ? iid_map_class(*iid) : nullptr;
}

namespace {

// The modified UTF-8 of a Java string; "" for null.
std::string utf(JNIEnv* env, jstring s) {
  if (!s) return std::string();
  const char* chars = env->GetStringUTFChars(s, nullptr);
  if (!chars) return std::string();
  std::string out(chars);
  env->ReleaseStringUTFChars(s, chars);
  return out;
}

}  // namespace

extern "C" {

JNIEXPORT jstring JNICALL Java_ezjcom_RuntimeTesting_journal(JNIEnv* env, jclass) {
  std::string text;
  for (const std::string& line : ezjcom_journal()) {
    text += line;
    text += '\n';
  }
  return env->NewStringUTF(text.c_str());
}

JNIEXPORT void JNICALL Java_ezjcom_RuntimeTesting_reset(JNIEnv*, jclass) { ezjcomTestReset(); }

JNIEXPORT void JNICALL Java_ezjcom_RuntimeTesting_journalEnable(JNIEnv*, jclass, jboolean on) {
  ezjcomTestJournalEnable(on ? 1 : 0);
}

JNIEXPORT void JNICALL Java_ezjcom_RuntimeTesting_forceHresult(JNIEnv* env, jclass, jstring op,
                                                               jint hr, jint times) {
  ezjcomTestForceHresult(utf(env, op).c_str(), static_cast<HRESULT>(hr), times);
}

JNIEXPORT void JNICALL Java_ezjcom_RuntimeTesting_fatalAfter(JNIEnv* env, jclass, jstring op,
                                                             jint nth) {
  ezjcomTestFatalAfter(utf(env, op).c_str(), nth);
}

JNIEXPORT jlong JNICALL Java_ezjcom_RuntimeTesting_openBindings(JNIEnv*, jclass) {
  return ezjcomTestOpenBindings();
}

JNIEXPORT jlong JNICALL Java_ezjcom_RuntimeTesting_openConnections(JNIEnv*, jclass) {
  return ezjcomTestOpenConnections();
}

}  // extern "C"
