// The test harness itself: what -Xcheck:jni reports reaches the tests, so
// that a misuse of JNI fails the test that made it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jvm.h"

namespace {

using jtz::test::env;
using jtz::test::take_jni_complaints;

bool mentions(const std::vector<std::string>& lines, const char* text) {
  for (const std::string& line : lines)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

TEST(JniChecks, MisusesReachTheTestThatMadeThem) {
  JNIEnv* e = env();
  take_jni_complaints();

  // A Java call whose exception nobody looked at before the next JNI call.
  jclass object = e->FindClass("java/lang/Object");
  jobject o = e->AllocObject(object);
  e->CallIntMethod(o, e->GetMethodID(object, "hashCode", "()I"));
  jclass again = e->FindClass("java/lang/Object");
  const auto lines = take_jni_complaints();
  EXPECT_TRUE(mentions(lines, "JNI call made without checking exceptions")) << lines.size();

  for (jobject r : {static_cast<jobject>(object), o, static_cast<jobject>(again)})
    e->DeleteLocalRef(r);
  EXPECT_TRUE(take_jni_complaints().empty());
}

}  // namespace
