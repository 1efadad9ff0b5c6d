// The test hooks: the journal's format and limits, forced HRESULTs, forced
// fatal errors (per thread), the reset, and their Java access.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes.h"
#include "jvm.h"
#include "runtime_api.h"

namespace {

using rtest::FakeDispatch;
using Lines = std::vector<std::string>;

const IID kIidA = {0x834FBEE1, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};
const CLSID kClsidA = {
    0x834FBEE5, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};

class Hooks : public ::testing::Test {
 protected:
  void SetUp() override {
    ezjcomTestJournalEnable(1);
    ezjcomTestReset();
  }
  void TearDown() override {
    ezjcomTestJournalEnable(1);
    ezjcomTestReset();
  }
  JNIEnv* env = jtz::test::env();
};

TEST_F(Hooks, JournalWritesEachCallWithItsArguments) {
  const EzjcomIidMapEntry map[] = {{&kIidA, "puente/IScanMontura"}};
  const jchar host[] = {'h', 'o', 's', 't', 0};
  const jchar user[] = {'a', 0xF1, 'a', 0};  // "aña"
  const IID* iids[] = {&IID_IUnknown, &kIidA};
  FakeDispatch* d = rtest::make<FakeDispatch>();
  DISPPARAMS none{};
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO ei{};
  UINT arg_err = 0;
  void* out = nullptr;
  ezjcomTestForceHresult("ezjcomCreateInstance", REGDB_E_CLASSNOTREG, 1);
  ezjcomTestForceHresult("ezjcomMiscFunc4", REGDB_E_CLASSNOTREG, 1);
  ezjcomTestForceHresult("ezjcomCreateInstanceRemote", E_ACCESSDENIED, 1);

  ezjcomInitDLL18(1);
  ezjcomIidMapTypes(map, 1);
  ezjcomInitThread(nullptr);
  ezjcomInitThread(env);
  ezjcomInitEventThread(env);
  ezjcomCreateInstance(env, kClsidA, &out);
  ezjcomMiscFunc4(env, kClsidA, &out, 0);
  ezjcomCreateInstanceRemote(env, kClsidA, host, nullptr, nullptr, nullptr, 2, 7, iids);
  ezjcomCreateInstanceRemote(env, kClsidA, host, user, nullptr, host, 0, 0, nullptr);
  ezjcomSetAccessType(2);
  auto bound = std::make_unique<rtest::Bound>(d);  // given back after the journal is read
  ezjcomQueryInterface(env, bound->value(), IID_IDispatch, &out);
  ezjcomInvokeHelper(env, d, 51, &none, DISPATCH_PROPERTYGET, &ei, &arg_err, &result);
  ezjcomCheckFatalError(env);
  ezjcomThrowComExceptionObject(env, DISP_E_EXCEPTION, &ei);
  env->ExceptionClear();
  ezjcomThrowComExceptionObject(env, E_FAIL, nullptr);
  env->ExceptionClear();
  jclass npe = ezjcomFindClass(env, "java/lang/NullPointerException");
  env->DeleteLocalRef(npe);
  BSTR b = ezjcomJstringToBstr(env, nullptr);
  jstring s = ezjcomBstrToJstr(env, b);
  env->DeleteLocalRef(s);
  ezjcomGetComId();
  ezjcomGetEventId();
  ezjcomGetJniEnv();
  CheckServerSideEvents(env);
  ezjcomTestSetServerSideEvents(0);
  CheckServerSideEvents(env);
  env->ExceptionClear();

  const Lines want = {
      "ezjcomInitDLL18 1",
      "ezjcomIidMapTypes 1 {834FBEE1-D957-11D3-9C50-0060972F00DC} puente/IScanMontura",
      "ezjcomInitThread null",
      "ezjcomInitThread env",
      "ezjcomInitEventThread env",
      "ezjcomCreateInstance {834FBEE5-D957-11D3-9C50-0060972F00DC}",
      "ezjcomMiscFunc4 {834FBEE5-D957-11D3-9C50-0060972F00DC} 0",
      "ezjcomCreateInstanceRemote {834FBEE5-D957-11D3-9C50-0060972F00DC} host null null null 2 7 "
      "{00000000-0000-0000-C000-000000000046},{834FBEE1-D957-11D3-9C50-0060972F00DC}",
      "ezjcomCreateInstanceRemote {834FBEE5-D957-11D3-9C50-0060972F00DC} host given null given 0 0 "
      "null",
      "ezjcomSetAccessType 2",
      "ezjcomQueryInterface {00020400-0000-0000-C000-000000000046}",
      "ezjcomInvokeHelper 51 2 0 0",
      "ezjcomCheckFatalError 0",
      "ezjcomThrowComExceptionObject 0x80020009 excepinfo",
      "ezjcomThrowComExceptionObject 0x80004005 null",
      "ezjcomFindClass java/lang/NullPointerException",
      "ezjcomJstringToBstr",
      "ezjcomBstrToJstr",
      "ezjcomGetComId",
      "ezjcomGetEventId",
      "ezjcomGetJniEnv",
      "CheckServerSideEvents 1",
      "CheckServerSideEvents 0",
  };
  EXPECT_EQ(ezjcom_journal(), want);
  ASSERT_EQ(out, static_cast<IDispatch*>(d)) << "the real query went through";
  EXPECT_EQ(d->invokes, 1);
  bound.reset();
  d->Release();
  rtest::destroy(d);
}

// The user, domain and password of a remote creation appear nowhere: not in
// the journal (C or Java view), whichever of them are given, and whether the
// creation runs or is forced.
TEST_F(Hooks, RemoteCreationSecretsAreNeverJournaled) {
  const jchar host[] = {'h', 'o', 's', 't', 0};
  const jchar user[] = {'a', 'l', 'i', 'c', 'e', 0};
  const jchar domain[] = {'C', 'O', 'R', 'P', 0};
  const jchar password[] = {'P', 'a', '5', '5', 'w', '0', 'r', 'd', '!', 0};
  const IID* iids[] = {&IID_IUnknown};
  const struct {
    const jchar *user, *domain, *password;
    const char* journaled;
  } cases[] = {
      {user, domain, password, " host given given given 1 0 "},
      {nullptr, nullptr, password, " host null null given 1 0 "},
      {user, nullptr, nullptr, " host given null null 1 0 "},
  };
  for (const auto& c : cases) {
    ezjcomTestReset();
    ezjcomTestForceHresult("ezjcomCreateInstanceRemote", E_ACCESSDENIED, 1);
    ezjcomCreateInstanceRemote(env, kClsidA, host, c.user, c.domain, c.password, 1, 0, iids);
    // Not forced: the creation itself runs (and fails: no such class here).
    ezjcomCreateInstanceRemote(env, kClsidA, host, c.user, c.domain, c.password, 1, 0, iids);
    const Lines lines = ezjcom_journal_of("ezjcomCreateInstanceRemote");
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : lines)
      EXPECT_NE(line.find(c.journaled), std::string::npos) << line;

    jclass testing = env->FindClass("ezjcom/RuntimeTesting");
    ASSERT_NE(testing, nullptr) << jtz::test::take_exception(env);
    auto text = static_cast<jstring>(env->CallStaticObjectMethod(
        testing, env->GetStaticMethodID(testing, "journal", "()Ljava/lang/String;")));
    ASSERT_FALSE(env->ExceptionCheck()) << jtz::test::take_exception(env);
    const char* chars = env->GetStringUTFChars(text, nullptr);
    std::string all = chars;
    env->ReleaseStringUTFChars(text, chars);
    for (const std::string& line : ezjcom_journal()) all += line;
    for (const char* secret : {"alice", "CORP", "Pa55w0rd!"})
      EXPECT_EQ(all.find(secret), std::string::npos) << secret << " written in: " << all;
    env->DeleteLocalRef(text);
    env->DeleteLocalRef(testing);
  }
}

TEST_F(Hooks, JournalOffRecordsNothingAndOnAgainRecords) {
  ezjcomTestJournalEnable(0);
  ezjcomSetAccessType(2);
  CheckServerSideEvents(env);
  EXPECT_TRUE(ezjcom_journal().empty());
  ezjcomTestJournalEnable(1);
  ezjcomSetAccessType(2);
  EXPECT_EQ(ezjcom_journal(), Lines{"ezjcomSetAccessType 2"});
}

TEST_F(Hooks, JournalKeepsTheFirst200000Lines) {
  for (int i = 0; i < 200005; ++i) ezjcomSetAccessType(i);
  const Lines lines = ezjcom_journal();
  ASSERT_EQ(lines.size(), 200000u);
  EXPECT_EQ(lines.front(), "ezjcomSetAccessType 0");
  EXPECT_EQ(lines.back(), "ezjcomSetAccessType 199999");
}

TEST_F(Hooks, JournalCopyTruncatesToTheBufferAndReportsTheWholeLength) {
  ezjcomSetAccessType(2);  // "ezjcomSetAccessType 2\n": 22 characters
  ezjcomInitDLL18(1);      // "ezjcomInitDLL18 1\n": 18
  EXPECT_EQ(ezjcomTestJournal(nullptr, 0), 40u);
  char small[8];
  EXPECT_EQ(ezjcomTestJournal(small, sizeof small), 40u);
  EXPECT_STREQ(small, "ezjcomS");
  char whole[41];
  EXPECT_EQ(ezjcomTestJournal(whole, sizeof whole), 40u);
  EXPECT_STREQ(whole, "ezjcomSetAccessType 2\nezjcomInitDLL18 1\n");
}

TEST_F(Hooks, ForcedHresultSkipsTheWorkForTheGivenNumberOfCalls) {
  FakeDispatch* d = rtest::make<FakeDispatch>();
  ezjcomTestForceHresult("ezjcomQueryInterface", E_NOINTERFACE, 2);
  ezjcomTestForceHresult("ezjcomInvokeHelper", DISP_E_MEMBERNOTFOUND, 1);
  void* out = reinterpret_cast<void*>(1);
  {
    const rtest::Bound bound(d);
    EXPECT_EQ(ezjcomQueryInterface(env, bound.value(), IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(ezjcomQueryInterface(env, bound.value(), IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(d->queries, 0);
    EXPECT_EQ(ezjcomQueryInterface(env, bound.value(), IID_IDispatch, &out), S_OK);
  }
  EXPECT_EQ(out, static_cast<IDispatch*>(d));
  EXPECT_EQ(d->queries, 1);
  d->Release();

  DISPPARAMS none{};
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO ei{};
  UINT arg_err = 0;
  EXPECT_EQ(ezjcomInvokeHelper(env, d, 3, &none, DISPATCH_METHOD, &ei, &arg_err, &result),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(d->invokes, 0);
  EXPECT_EQ(result.vt, VT_EMPTY);
  EXPECT_EQ(ezjcomInvokeHelper(env, d, 3, &none, DISPATCH_METHOD, &ei, &arg_err, &result), S_OK);
  EXPECT_EQ(d->invokes, 1);
  // Forced calls are in the journal like any other.
  EXPECT_EQ(ezjcom_journal_of("ezjcomQueryInterface").size(), 3u);
  EXPECT_EQ(ezjcom_journal_of("ezjcomInvokeHelper").size(), 2u);
  rtest::destroy(d);
}

TEST_F(Hooks, FatalErrorIsPendingAfterTheNthCallAndIsClearedByTheCheck) {
  ezjcomTestFatalAfter("ezjcomSetAccessType", 2);
  ezjcomSetAccessType(2);
  EXPECT_EQ(ezjcomCheckFatalError(env), 0);
  ezjcomSetAccessType(2);
  EXPECT_EQ(ezjcomCheckFatalError(env), 1);
  EXPECT_EQ(ezjcomCheckFatalError(env), 0) << "the check clears it";
  ezjcomSetAccessType(2);
  EXPECT_EQ(ezjcomCheckFatalError(env), 0) << "scheduled once";
  const Lines checks = ezjcom_journal_of("ezjcomCheckFatalError");
  EXPECT_EQ(checks, (Lines{"ezjcomCheckFatalError 0", "ezjcomCheckFatalError 1",
                           "ezjcomCheckFatalError 0", "ezjcomCheckFatalError 0"}));
}

TEST_F(Hooks, FatalErrorBelongsToTheThreadThatMadeTheCall) {
  ezjcomTestFatalAfter("ezjcomGetComId", 1);
  int other = -1;
  std::thread t([&] {
    ezjcomGetComId();
    other = ezjcomCheckFatalError(ezjcomGetJniEnv());
  });
  t.join();
  EXPECT_EQ(other, 1);
  EXPECT_EQ(ezjcomCheckFatalError(env), 0);
}

TEST_F(Hooks, ResetDropsForcingsAndPendingFatalErrors) {
  ezjcomTestFatalAfter("ezjcomSetAccessType", 1);
  ezjcomSetAccessType(2);  // now pending
  ezjcomTestFatalAfter("ezjcomSetAccessType", 1);
  ezjcomTestForceHresult("ezjcomQueryInterface", E_FAIL, 5);
  ezjcomTestReset();
  EXPECT_EQ(ezjcomCheckFatalError(env), 0);
  ezjcomSetAccessType(2);
  EXPECT_EQ(ezjcomCheckFatalError(env), 0);
  void* out = nullptr;
  EXPECT_EQ(ezjcomQueryInterface(env, 0, IID_IUnknown, &out), E_POINTER) << "not forced any more";
  EXPECT_EQ(ezjcom_journal().size(), 4u);
}

TEST_F(Hooks, JavaReachesTheHooks) {
  jclass testing = env->FindClass("ezjcom/RuntimeTesting");
  ASSERT_NE(testing, nullptr) << jtz::test::take_exception(env);
  auto call = [&](const char* name, const char* sig, auto... args) {
    env->CallStaticVoidMethod(testing, env->GetStaticMethodID(testing, name, sig), args...);
    ASSERT_FALSE(env->ExceptionCheck()) << jtz::test::take_exception(env);
  };
  jstring op = env->NewStringUTF("ezjcomQueryInterface");
  call("forceHresult", "(Ljava/lang/String;II)V", op, static_cast<jint>(E_ACCESSDENIED), 1);
  void* out = nullptr;
  EXPECT_EQ(ezjcomQueryInterface(env, 0, IID_IUnknown, &out), E_ACCESSDENIED);
  jstring op2 = env->NewStringUTF("ezjcomSetAccessType");
  call("fatalAfter", "(Ljava/lang/String;I)V", op2, 1);
  ezjcomSetAccessType(2);
  EXPECT_EQ(ezjcomCheckFatalError(env), 1);

  auto text = static_cast<jstring>(env->CallStaticObjectMethod(
      testing, env->GetStaticMethodID(testing, "journal", "()Ljava/lang/String;")));
  ASSERT_FALSE(env->ExceptionCheck());
  const char* chars = env->GetStringUTFChars(text, nullptr);
  EXPECT_STREQ(chars,
               "ezjcomQueryInterface {00000000-0000-0000-C000-000000000046}\n"
               "ezjcomSetAccessType 2\n"
               "ezjcomCheckFatalError 1\n");
  env->ReleaseStringUTFChars(text, chars);

  call("journalEnable", "(Z)V", JNI_FALSE);
  ezjcomSetAccessType(2);
  call("journalEnable", "(Z)V", JNI_TRUE);
  call("reset", "()V");
  EXPECT_TRUE(ezjcom_journal().empty());
  env->DeleteLocalRef(text);
  env->DeleteLocalRef(op);
  env->DeleteLocalRef(op2);
  env->DeleteLocalRef(testing);
}

}  // namespace
