// Enumeration objects and their integers: value() and fromValue(int) of the
// Java enumeration classes, null and unknown values, unknown classes.
#include <gtest/gtest.h>

#include "jvm.h"
#include "runtime_api.h"
#include "test_classes.h"

namespace {

jobject constant(JNIEnv* env, jclass cls, const char* name) {
  jfieldID f = env->GetStaticFieldID(cls, name, "Lrtest/Fruit;");
  return env->GetStaticObjectField(cls, f);
}

TEST(Enumerations, ConstantToIntIsItsValue) {
  JNIEnv* env = jtz::test::env();
  jclass fruit = rtest::test_class(env, "rtest/Fruit");
  ASSERT_NE(fruit, nullptr) << jtz::test::take_exception(env);
  const struct {
    const char* name;
    int value;
  } rows[] = {{"APPLE", 1}, {"PEAR", 7}, {"FIG", -2}};
  for (const auto& row : rows) {
    jobject c = constant(env, fruit, row.name);
    EXPECT_EQ(ezjcomEnumeratedObjectToInt(env, c), row.value) << row.name;
    EXPECT_FALSE(env->ExceptionCheck());
    env->DeleteLocalRef(c);
  }
}

TEST(Enumerations, NullConstantRaisesNullPointerException) {
  JNIEnv* env = jtz::test::env();
  EXPECT_EQ(ezjcomEnumeratedObjectToInt(env, nullptr), 0);
  EXPECT_EQ(jtz::test::take_exception(env),
            "java.lang.NullPointerException: Enumeration argument is null");
}

TEST(Enumerations, IntToConstantGivesTheVeryConstant) {
  JNIEnv* env = jtz::test::env();
  jclass fruit = rtest::test_class(env, "rtest/Fruit");
  ASSERT_NE(fruit, nullptr);
  const struct {
    int value;
    const char* name;
  } rows[] = {{1, "APPLE"}, {7, "PEAR"}, {-2, "FIG"}};
  for (const auto& row : rows) {
    jobject got = ezjcomIntToEnumeratedObject(env, row.value, "rtest/Fruit");
    jobject want = constant(env, fruit, row.name);
    EXPECT_TRUE(env->IsSameObject(got, want)) << row.value;
    EXPECT_FALSE(env->ExceptionCheck());
    env->DeleteLocalRef(got);
    env->DeleteLocalRef(want);
  }
}

TEST(Enumerations, UnknownValueGivesNullWithTheEnumerationsExceptionPending) {
  JNIEnv* env = jtz::test::env();
  ASSERT_NE(rtest::test_class(env, "rtest/Fruit"), nullptr);
  for (int value : {0, 2, 8, -1, 0x7FFFFFFF, static_cast<int>(0x80000000)}) {
    EXPECT_EQ(ezjcomIntToEnumeratedObject(env, value, "rtest/Fruit"), nullptr);
    EXPECT_EQ(jtz::test::take_exception(env),
              "java.lang.IllegalArgumentException: No Fruit with value " + std::to_string(value));
  }
}

TEST(Enumerations, UnknownClassGivesNullWithNoClassDefFoundError) {
  JNIEnv* env = jtz::test::env();
  EXPECT_EQ(ezjcomIntToEnumeratedObject(env, 1, "rtest/NoSuchEnum"), nullptr);
  EXPECT_EQ(jtz::test::take_exception(env).rfind("java.lang.NoClassDefFoundError", 0), 0u);
}

}  // namespace
