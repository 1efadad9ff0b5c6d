// Java strings and BSTRs: both UTF-16, converted unit for unit (no modified
// UTF-8 on the way), with embedded NULs, unpaired surrogates and nulls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jvm.h"
#include "runtime_api.h"

namespace {

using Units = std::u16string;

jstring java_string(JNIEnv* env, const Units& u) {
  return env->NewString(reinterpret_cast<const jchar*>(u.data()), static_cast<jsize>(u.size()));
}

Units units_of(JNIEnv* env, jstring s) {
  Units u(static_cast<size_t>(env->GetStringLength(s)), u'\0');
  env->GetStringRegion(s, 0, static_cast<jsize>(u.size()), reinterpret_cast<jchar*>(&u[0]));
  return u;
}

const std::vector<Units>& samples() {
  static const std::vector<Units> s = {
      u"",
      u"Explora",
      u"ca\u00F1\u00F3n \u20AC",       // 2- and 3-byte UTF-8
      Units(u"a\0b\0", 4),             // embedded NULs (2 bytes in modified UTF-8)
      u"\U0001F453 gafas \U0001F453",  // surrogate pairs (6 bytes in modified UTF-8)
      Units(1, u'\xD800') + u"x" + Units(1, u'\xDC00'),  // unpaired surrogates
      Units(1, u'\xFFFF'),
      Units(4000, u'\x4E2D'),
  };
  return s;
}

TEST(Strings, JavaToBstrGivesExactlyTheUtf16Units) {
  JNIEnv* env = jtz::test::env();
  for (const Units& u : samples()) {
    const long before = jtzcom_live_bstrs();
    jstring s = java_string(env, u);
    BSTR b = ezjcomJstringToBstr(env, s);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(jtzcom_live_bstrs(), before + 1);
    ASSERT_EQ(SysStringLen(b), u.size());
    EXPECT_EQ(Units(b, SysStringLen(b)), u);
    EXPECT_EQ(b[u.size()], u'\0') << "a BSTR ends in a terminator";
    SysFreeString(b);
    EXPECT_EQ(jtzcom_live_bstrs(), before);
    env->DeleteLocalRef(s);
    EXPECT_FALSE(env->ExceptionCheck());
  }
}

TEST(Strings, BstrToJavaKeepsEveryUnitIncludingNuls) {
  JNIEnv* env = jtz::test::env();
  for (const Units& u : samples()) {
    BSTR b = SysAllocStringLen(u.data(), static_cast<UINT>(u.size()));
    jstring s = ezjcomBstrToJstr(env, b);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(units_of(env, s), u);
    SysFreeString(b);  // the BSTR stays the caller's
    env->DeleteLocalRef(s);
  }
}

TEST(Strings, NullJavaStringIsNullBstrAndNullBstrIsEmptyString) {
  JNIEnv* env = jtz::test::env();
  const long before = jtzcom_live_bstrs();
  EXPECT_EQ(ezjcomJstringToBstr(env, nullptr), nullptr);
  EXPECT_EQ(jtzcom_live_bstrs(), before);
  jstring empty = ezjcomBstrToJstr(env, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(env->GetStringLength(empty), 0);
  env->DeleteLocalRef(empty);
  EXPECT_FALSE(env->ExceptionCheck());
}

}  // namespace
