// Keys reach a typed listener (ScanMontura.onKeyPress) as the code units typed,
// never as negative or sign-extended bytes, and what it leaves is what the
// control applies.
#include <gtest/gtest.h>

#include "fixture.h"

using namespace jtz::test;

namespace {

std::string call_string(jobject o, const char* name) {
  JNIEnv* e = env();
  jclass c = e->GetObjectClass(o);
  auto s =
      static_cast<jstring>(e->CallObjectMethod(o, e->GetMethodID(c, name, "()Ljava/lang/String;")));
  e->DeleteLocalRef(c);
  std::string out = str(s);
  e->DeleteLocalRef(s);
  return out;
}

}  // namespace

TEST(TypedKeys, KeysAreReadUnsignedAndReplacedAsTheListenerSays) {
  JNIEnv* e = env();
  Global component = new_component();
  Global dispatch = bind_dispatch(component);
  Ref<ISimControl> sim = sim_control(component);
  ASSERT_TRUE(sim.get());
  jclass c = e->FindClass("jtztest/TypedKeys");
  ASSERT_TRUE(c) << take_exception(e);
  Global keys(
      e->NewObject(c, e->GetMethodID(c, "<init>", "(Lpuente/ScanMontura;)V"), component.get()));
  e->DeleteLocalRef(c);
  ASSERT_EQ(take_exception(e), "");

  // 'x' becomes 'X', 'é' (0xE9, a negative byte) stays itself, '#' is swallowed.
  const jchar typed[] = {'x', 0xE9, '#', 'a', 0xFF, 0};
  ASSERT_EQ(sim->TypeText(reinterpret_cast<LPCOLESTR>(typed)), S_OK);
  ASSERT_EQ(sim->WaitIdle(5000), S_OK);
  EXPECT_EQ(call_string(keys, "seen"), "U+0078 U+00E9 U+0023 U+0061 U+00FF");
  jclass dc = e->GetObjectClass(dispatch);
  auto text = static_cast<jstring>(
      e->CallObjectMethod(dispatch, e->GetMethodID(dc, "getText", "()Ljava/lang/String;")));
  ASSERT_EQ(take_exception(e), "");
  const jchar* chars = e->GetStringChars(text, nullptr);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(chars), e->GetStringLength(text)),
            u"X\u00E9a\u00FF");
  e->ReleaseStringChars(text, chars);
  e->DeleteLocalRef(text);
  e->DeleteLocalRef(dc);

  // Closed, the registration hears nothing more.
  jclass kc = e->GetObjectClass(keys);
  e->CallVoidMethod(keys, e->GetMethodID(kc, "close", "()V"));
  e->DeleteLocalRef(kc);
  ASSERT_EQ(take_exception(e), "");
  const jchar more[] = {'b', 0};
  ASSERT_EQ(sim->TypeText(reinterpret_cast<LPCOLESTR>(more)), S_OK);
  ASSERT_EQ(sim->WaitIdle(5000), S_OK);
  EXPECT_EQ(call_string(keys, "seen"), "U+0078 U+00E9 U+0023 U+0061 U+00FF");
}
