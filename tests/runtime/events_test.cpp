// Server-side delivery (the switch, OnServerSideEvent reaching the Java
// handler) and __JComAdvise / __JComUnadvise against a fake connection point,
// all driven through the JVM.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "fakes.h"
#include "jvm.h"
#include "runtime_api.h"
#include "test_classes.h"

namespace {

using rtest::FakeComponent;
using rtest::FakeSink;

constexpr char kInterfaceName[] = "puente.IScanMonturaEvents";

class Events : public ::testing::Test {
 protected:
  void SetUp() override {
    ezjcomTestReset();
    // Defined (and held by a global reference) before the count is taken.
    for (const char* cls : {"rtest/ServerSideHandler", "rtest/NameCollector", "rtest/LooseHandler"})
      ASSERT_NE(rtest::test_class(env, cls), nullptr) << cls;
    refs_before = jtz::test::global_ref_count();
    ASSERT_GE(refs_before, 0) << "the JVM's count of global references is not readable";
  }
  void TearDown() override {
    EXPECT_EQ(jtz::test::global_ref_count_settling_at(refs_before), refs_before)
        << "a JNI global reference leaked";
    ezjcomTestReset();
  }
  JNIEnv* env = jtz::test::env();
  long refs_before = 0;
};

// ---- server-side delivery ----

TEST_F(Events, ServerSideSwitchIsOnByDefaultAndJavaTurnsIt) {
  EXPECT_EQ(CheckServerSideEvents(env), 1);
  jclass object = env->FindClass("ezjcom/JComObject");
  jmethodID set = env->GetStaticMethodID(object, "__JComSetServerSideEvents", "(Z)V");
  env->CallStaticVoidMethod(object, set, JNI_FALSE);
  ASSERT_FALSE(env->ExceptionCheck());
  EXPECT_EQ(CheckServerSideEvents(env), 0);
  env->CallStaticVoidMethod(object, set, JNI_TRUE);
  ASSERT_FALSE(env->ExceptionCheck());
  EXPECT_EQ(CheckServerSideEvents(env), 1);
  ezjcomTestSetServerSideEvents(0);
  EXPECT_EQ(CheckServerSideEvents(env), 0);
  ezjcomTestReset();
  EXPECT_EQ(CheckServerSideEvents(env), 1) << "the reset turns it back on";
  env->DeleteLocalRef(object);
}

struct Handler {
  JNIEnv* env;
  jobject object;
  jclass cls;
  std::string string_field(const char* name) const {
    auto s = static_cast<jstring>(
        env->GetObjectField(object, env->GetFieldID(cls, name, "Ljava/lang/String;")));
    if (!s) return "<null>";
    const char* c = env->GetStringUTFChars(s, nullptr);
    std::string out = c;
    env->ReleaseStringUTFChars(s, c);
    env->DeleteLocalRef(s);
    return out;
  }
  jobjectArray args() const {
    return static_cast<jobjectArray>(
        env->GetObjectField(object, env->GetFieldID(cls, "args", "[Ljava/lang/Object;")));
  }
  jint calls() const { return rtest::int_field(env, object, "calls"); }
};

Handler new_handler(JNIEnv* env) {
  jclass cls = rtest::test_class(env, "rtest/ServerSideHandler");
  return Handler{env, rtest::new_object(env, "rtest/ServerSideHandler"), cls};
}

TEST_F(Events, EventWithoutArgumentsReachesTheHandlerWithAnEmptyArray) {
  Handler h = new_handler(env);
  ASSERT_NE(h.object, nullptr) << jtz::test::take_exception(env);
  jstring local_name = env->NewStringUTF(kInterfaceName);
  jobject name = env->NewGlobalRef(local_name);  // what a server-side sink holds
  OnServerSideEvent(env, h.object, name, 0, 0, "void", "OnDblClick");
  ASSERT_FALSE(env->ExceptionCheck()) << jtz::test::take_exception(env);
  EXPECT_EQ(h.calls(), 1);
  EXPECT_EQ(h.string_field("interfaceName"), kInterfaceName);
  EXPECT_EQ(h.string_field("eventName"), "OnDblClick");
  jobjectArray args = h.args();
  ASSERT_NE(args, nullptr);
  EXPECT_EQ(env->GetArrayLength(args), 0);

  EzjcomServerSideRecord r{};
  ezjcomTestLastServerSide(&r);
  EXPECT_EQ(r.env, env);
  EXPECT_EQ(r.javaObject, h.object);
  EXPECT_EQ(r.serverSideValue, name);
  EXPECT_EQ(r.argCount, 0);
  EXPECT_EQ(r.flags, 0);
  EXPECT_STREQ(r.returnType, "void");
  EXPECT_STREQ(r.eventName, "OnDblClick");
  EXPECT_EQ(r.calls, 1);
  EXPECT_EQ(ezjcom_journal_of("OnServerSideEvent"),
            std::vector<std::string>{"OnServerSideEvent 0 0 void OnDblClick"});

  env->DeleteLocalRef(args);
  env->DeleteGlobalRef(name);
  env->DeleteLocalRef(local_name);
  env->DeleteLocalRef(h.object);
}

TEST_F(Events, ArgumentTriplesBecomeTheArrayInOrder) {
  Handler h = new_handler(env);
  jstring name = env->NewStringUTF(kInterfaceName);
  jbyteArray key = env->NewByteArray(1);
  const jbyte k = 'A';
  env->SetByteArrayRegion(key, 0, 1, &k);
  jstring third = env->NewStringUTF("third");
  OnServerSideEvent(env, h.object, name, 1, 0, "void", "OnKeyPress", 0, "byte []",
                    static_cast<jobject>(key));
  ASSERT_FALSE(env->ExceptionCheck()) << jtz::test::take_exception(env);
  jobjectArray args = h.args();
  ASSERT_EQ(env->GetArrayLength(args), 1);
  jobject got = env->GetObjectArrayElement(args, 0);
  EXPECT_TRUE(env->IsSameObject(got, key));
  env->DeleteLocalRef(got);
  env->DeleteLocalRef(args);
  EXPECT_EQ(ezjcom_journal_of("OnServerSideEvent"),
            std::vector<std::string>{"OnServerSideEvent 1 0 void OnKeyPress 0 byte []"});

  // The value passed for the key by the event sink (0) and more triples.
  OnServerSideEvent(env, h.object, name, 3, 5, "void", "OnSomething", 4, "byte []",
                    static_cast<jobject>(nullptr), 6, "java.lang.String",
                    static_cast<jobject>(third), 8, "byte []", static_cast<jobject>(key));
  ASSERT_FALSE(env->ExceptionCheck()) << jtz::test::take_exception(env);
  args = h.args();
  ASSERT_EQ(env->GetArrayLength(args), 3);
  jobject a0 = env->GetObjectArrayElement(args, 0);
  jobject a1 = env->GetObjectArrayElement(args, 1);
  jobject a2 = env->GetObjectArrayElement(args, 2);
  EXPECT_EQ(a0, nullptr);
  EXPECT_TRUE(env->IsSameObject(a1, third));
  EXPECT_TRUE(env->IsSameObject(a2, key));

  EzjcomServerSideRecord r{};
  ezjcomTestLastServerSide(&r);
  EXPECT_EQ(r.argCount, 3);
  EXPECT_EQ(r.flags, 5);
  EXPECT_EQ(r.argFlags[0], 4);
  EXPECT_EQ(r.argFlags[1], 6);
  EXPECT_STREQ(r.argType[0], "byte []");
  EXPECT_STREQ(r.argType[1], "java.lang.String");
  EXPECT_EQ(r.argValue[0], nullptr);
  EXPECT_EQ(r.argValue[1], static_cast<jobject>(third));
  EXPECT_EQ(r.calls, 2);
  EXPECT_EQ(h.calls(), 2);

  for (jobject o : {a0, a1, a2, static_cast<jobject>(args), static_cast<jobject>(third),
                    static_cast<jobject>(key), static_cast<jobject>(name), h.object})
    env->DeleteLocalRef(o);
}

TEST_F(Events, ExceptionOfTheHandlerStaysPending) {
  Handler h = new_handler(env);
  jclass ise = env->FindClass("java/lang/IllegalStateException");
  jobject thrown = env->NewObject(ise, env->GetMethodID(ise, "<init>", "(Ljava/lang/String;)V"),
                                  env->NewStringUTF("listener failed"));
  env->SetObjectField(h.object, env->GetFieldID(h.cls, "toThrow", "Ljava/lang/RuntimeException;"),
                      thrown);
  jstring name = env->NewStringUTF(kInterfaceName);
  OnServerSideEvent(env, h.object, name, 0, 0, "void", "OnClick");
  jthrowable pending = env->ExceptionOccurred();
  ASSERT_NE(pending, nullptr);
  env->ExceptionClear();
  EXPECT_TRUE(env->IsSameObject(pending, thrown));
  EXPECT_EQ(h.calls(), 1);
  for (jobject o : {static_cast<jobject>(pending), thrown, static_cast<jobject>(ise),
                    static_cast<jobject>(name), h.object})
    env->DeleteLocalRef(o);
}

// Events of many names from several threads at once: each handler call gets
// its own name and arguments, and what the runtime keeps for the names stays
// bounded (the fixture checks that nothing else is left behind).
TEST_F(Events, ManyEventNamesFromManyThreads) {
  jobject local = rtest::new_object(env, "rtest/NameCollector");
  ASSERT_NE(local, nullptr) << jtz::test::take_exception(env);
  jobject collector = env->NewGlobalRef(local);
  env->DeleteLocalRef(local);
  constexpr int kThreads = 4, kNames = 40, kRounds = 3;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([collector, t] {
      JNIEnv* e = jtz::test::env();
      jstring value = e->NewStringUTF("v");
      for (int round = 0; round < kRounds; ++round) {
        for (int n = 0; n < kNames; ++n) {
          const std::string name = "Event" + std::to_string((n + t) % kNames);
          if (n % 2)
            OnServerSideEvent(e, collector, nullptr, 0, 0, "void", name.c_str());
          else
            OnServerSideEvent(e, collector, nullptr, 1, 0, "void", name.c_str(), 0,
                              "java.lang.String", static_cast<jobject>(value));
          if (e->ExceptionCheck()) {
            ADD_FAILURE() << jtz::test::take_exception(e);
            return;
          }
        }
      }
      e->DeleteLocalRef(value);
      jtz::test::vm()->DetachCurrentThread();
    });
  }
  for (std::thread& t : threads) t.join();

  jclass cls = rtest::test_class(env, "rtest/NameCollector");
  auto names = static_cast<jobjectArray>(
      env->CallObjectMethod(collector, env->GetMethodID(cls, "names", "()[Ljava/lang/String;")));
  ASSERT_FALSE(env->ExceptionCheck()) << jtz::test::take_exception(env);
  std::map<std::string, int> seen;
  for (jsize i = 0, n = env->GetArrayLength(names); i < n; ++i) {
    auto s = static_cast<jstring>(env->GetObjectArrayElement(names, i));
    const char* chars = env->GetStringUTFChars(s, nullptr);
    ++seen[chars];
    env->ReleaseStringUTFChars(s, chars);
    env->DeleteLocalRef(s);
  }
  std::map<std::string, int> expected;
  for (int t = 0; t < kThreads; ++t)
    for (int n = 0; n < kNames; ++n)
      expected["Event" + std::to_string((n + t) % kNames) + (n % 2 ? "/0" : "/1")] += kRounds;
  EXPECT_EQ(seen, expected);
  EXPECT_LE(ezjcomTestHeldGlobalRefs(), 4 + 16) << "the kept names are bounded";
  env->DeleteLocalRef(names);
  env->DeleteGlobalRef(collector);
}

// An object that is no JComObject: the method of that name and signature on
// its class, or NoSuchMethodError when it has none.
TEST_F(Events, HandlerOfAnObjectThatIsNoJComObject) {
  jobject loose = rtest::new_object(env, "rtest/LooseHandler");
  ASSERT_NE(loose, nullptr);
  EXPECT_EQ(OnServerSideEvent(env, loose, nullptr, 0, 0, "void", "OnClick"), 1);
  ASSERT_FALSE(env->ExceptionCheck()) << jtz::test::take_exception(env);
  jclass cls = env->GetObjectClass(loose);
  auto got = static_cast<jstring>(
      env->GetObjectField(loose, env->GetFieldID(cls, "eventName", "Ljava/lang/String;")));
  ASSERT_NE(got, nullptr);
  const char* chars = env->GetStringUTFChars(got, nullptr);
  EXPECT_STREQ(chars, "OnClick");
  env->ReleaseStringUTFChars(got, chars);

  jclass object_class = env->FindClass("java/lang/Object");
  jobject plain = env->AllocObject(object_class);
  EXPECT_EQ(OnServerSideEvent(env, plain, nullptr, 0, 0, "void", "OnClick"), 0);
  EXPECT_NE(jtz::test::take_exception(env).find("NoSuchMethodError"), std::string::npos);
  for (jobject o : {static_cast<jobject>(got), static_cast<jobject>(cls), loose, plain,
                    static_cast<jobject>(object_class)})
    env->DeleteLocalRef(o);
}

// ---- advise and unadvise ----

// A bound component wrapper and a listener holding a sink, as Java objects.
class Advise : public Events {
 protected:
  void SetUp() override {
    Events::SetUp();
    component = rtest::make<FakeComponent>();
    sink = rtest::make<FakeSink>();
    wrapper = rtest::new_object(env, "ezjcom/JComObject");
    listener = rtest::new_object(env, "ezjcom/JComEventListener");
    ASSERT_NE(wrapper, nullptr);
    ASSERT_NE(listener, nullptr);
    rtest::bind_com_id(env, wrapper, component);
    sink_value = rtest::bind_event_id(env, listener, sink);
    jclass cls = env->FindClass("ezjcom/JComObject");
    advise_method = env->GetMethodID(cls, "__JComAdvise", "(Lezjcom/JComEventListener;)I");
    unadvise_method = env->GetMethodID(cls, "__JComUnadvise", "(Lezjcom/JComEventListener;I)V");
    env->DeleteLocalRef(cls);
  }
  void TearDown() override {
    if (rtest::int_field(env, listener, "eventId") != 0) ezjcomDropEventId(env, listener);
    rtest::unbind_com_id(env, wrapper);
    env->DeleteLocalRef(wrapper);
    env->DeleteLocalRef(listener);
    EXPECT_EQ(component->refs.load(), 1) << "a reference to the component was kept";
    EXPECT_EQ(component->point_refs.load(), 0) << "a reference to the connection point was kept";
    rtest::destroy(component);
    rtest::destroy(sink);
    Events::TearDown();
  }
  // The exception, if any, is read with exception() right after.
  jint advise(jobject on, jobject l) {
    const jint cookie = env->CallIntMethod(on, advise_method, l);
    pending = env->ExceptionCheck();
    return cookie;
  }
  void unadvise(jobject on, jobject l, jint cookie) {
    env->CallVoidMethod(on, unadvise_method, l, cookie);
    pending = env->ExceptionCheck();
  }
  std::string exception() { return jtz::test::take_exception(env); }

  FakeComponent* component = nullptr;
  FakeSink* sink = nullptr;
  jint sink_value = 0;  // the event-id field's value for sink
  jobject wrapper = nullptr;
  jobject listener = nullptr;
  jmethodID advise_method = nullptr;
  jmethodID unadvise_method = nullptr;
  bool pending = false;
};

TEST_F(Advise, ConnectsTheSinkToThePointOfItsEventInterface) {
  const jint cookie = advise(wrapper, listener);
  ASSERT_EQ(exception(), "");
  EXPECT_EQ(cookie, 41);
  ASSERT_EQ(component->asked.size(), 1u);
  EXPECT_TRUE(component->asked[0] == rtest::kFakeEventsIid);
  ASSERT_EQ(component->sinks.size(), 1u);
  EXPECT_EQ(component->sinks[0], sink);
  EXPECT_EQ(sink->refs.load(), 2) << "the creation reference and the component's";
  EXPECT_EQ(ezjcom_journal_of("__JComAdvise"), std::vector<std::string>{"__JComAdvise 41"});
  EXPECT_EQ(rtest::int_field(env, listener, "eventId"), sink_value);

  // Unadvise: the connection ends, then the creation reference.
  unadvise(wrapper, listener, cookie);
  ASSERT_EQ(exception(), "");
  EXPECT_EQ(component->unadvised, std::vector<DWORD>{41});
  EXPECT_EQ(sink->refs.load(), 0);
  EXPECT_TRUE(sink->destroyed);
  EXPECT_EQ(rtest::int_field(env, listener, "eventId"), 0);
  EXPECT_EQ(ezjcom_journal_of("__JComUnadvise"), std::vector<std::string>{"__JComUnadvise 41"});
}

TEST_F(Advise, ListenerWithoutSinkOrUnboundWrapperIsRefused) {
  rtest::set_int_field(env, listener, "eventId", 0);
  EXPECT_EQ(advise(wrapper, listener), 0);
  EXPECT_EQ(exception(), "java.lang.NullPointerException: Listener has no event sink");
  EXPECT_EQ(advise(wrapper, nullptr), 0);
  EXPECT_EQ(exception(), "java.lang.NullPointerException: Listener has no event sink");
  rtest::set_int_field(env, listener, "eventId", sink_value);
  rtest::unbind_com_id(env, wrapper);
  EXPECT_EQ(advise(wrapper, listener), 0);
  EXPECT_EQ(exception(), "java.lang.NullPointerException: Uninitialized JComObject");
  EXPECT_TRUE(component->asked.empty());
  EXPECT_EQ(sink->refs.load(), 1);
}

TEST_F(Advise, EachFailingStepRaisesItsHresultAndKeepsNoReference) {
  component->offers_container = false;
  EXPECT_EQ(advise(wrapper, listener), 0);
  EXPECT_EQ(exception(), "ezjcom.JComException: COM error 0x80004002");

  component->offers_container = true;
  sink->answers_event_iid = false;
  EXPECT_EQ(advise(wrapper, listener), 0);
  EXPECT_EQ(exception(), "ezjcom.JComException: COM error 0x80004002");
  EXPECT_TRUE(component->asked.empty());

  sink->answers_event_iid = true;
  component->advise_result = CONNECT_E_ADVISELIMIT;
  EXPECT_EQ(advise(wrapper, listener), 0);
  EXPECT_EQ(exception(), "ezjcom.JComException: COM error 0x80040201");

  component->advise_result = S_OK;
  ezjcomTestForceHresult("__JComAdvise", CONNECT_E_CANNOTCONNECT, 1);
  const size_t asked = component->asked.size();
  EXPECT_EQ(advise(wrapper, listener), 0);
  EXPECT_EQ(exception(), "ezjcom.JComException: COM error 0x80040202");
  EXPECT_EQ(component->asked.size(), asked) << "a forced advise does no work";
  EXPECT_EQ(sink->refs.load(), 1);
  EXPECT_EQ(ezjcom_journal_of("__JComAdvise").back(), "__JComAdvise 0");
}

TEST_F(Advise, UnadviseWithCookieZeroOnlyGivesUpTheReference) {
  jobject unbound = rtest::new_object(env, "ezjcom/JComObject");
  unadvise(unbound, listener, 0);
  EXPECT_EQ(exception(), "");
  EXPECT_TRUE(sink->destroyed);
  EXPECT_EQ(sink->releases.load(), 1);
  EXPECT_EQ(rtest::int_field(env, listener, "eventId"), 0);
  EXPECT_TRUE(component->unadvised.empty());
  env->DeleteLocalRef(unbound);
}

// A disconnect that fails keeps what it could not end: the connection, the
// creation reference and the field, so that the listener can try again.
TEST_F(Advise, FailedUnadviseKeepsTheConnectionTheReferenceAndTheField) {
  const jint cookie = advise(wrapper, listener);
  ASSERT_EQ(exception(), "");
  component->unadvise_result = CONNECT_E_NOCONNECTION;
  unadvise(wrapper, listener, cookie);
  EXPECT_EQ(exception(), "ezjcom.JComException: COM error 0x80040200");
  EXPECT_EQ(component->unadvised, std::vector<DWORD>{41});
  EXPECT_EQ(sink->releases.load(), 0);
  EXPECT_EQ(sink->refs.load(), 2) << "the creation reference and the component's";
  EXPECT_EQ(rtest::int_field(env, listener, "eventId"), sink_value);

  component->unadvise_result = S_OK;
  unadvise(wrapper, listener, cookie);
  EXPECT_EQ(exception(), "");
  EXPECT_EQ(sink->releases.load(), 2) << "the component's, then the creation reference";
  EXPECT_TRUE(sink->destroyed);
  EXPECT_EQ(rtest::int_field(env, listener, "eventId"), 0);
}

TEST_F(Advise, UnadviseOfACookieNeverAdvisedRaisesAndKeepsTheSink) {
  jobject unbound = rtest::new_object(env, "ezjcom/JComObject");
  unadvise(unbound, listener, 41);
  EXPECT_EQ(exception(), "ezjcom.JComException: COM error 0x80040200");
  EXPECT_FALSE(sink->destroyed);
  EXPECT_EQ(rtest::int_field(env, listener, "eventId"), sink_value);
  unadvise(unbound, listener, 0);
  EXPECT_EQ(exception(), "");
  EXPECT_TRUE(sink->destroyed);
  EXPECT_EQ(rtest::int_field(env, listener, "eventId"), 0);
  env->DeleteLocalRef(unbound);
}

TEST_F(Advise, ForcedUnadviseRaisesAndKeepsTheSink) {
  const jint cookie = advise(wrapper, listener);
  ASSERT_EQ(exception(), "");
  ezjcomTestForceHresult("__JComUnadvise", E_UNEXPECTED, 1);
  unadvise(wrapper, listener, cookie);
  EXPECT_EQ(exception(), "ezjcom.JComException: COM error 0x8000FFFF");
  EXPECT_TRUE(component->unadvised.empty()) << "a forced outcome does no work";
  EXPECT_EQ(sink->releases.load(), 0);
  EXPECT_EQ(rtest::int_field(env, listener, "eventId"), sink_value);
  unadvise(wrapper, listener, cookie);
  EXPECT_EQ(exception(), "");
  EXPECT_TRUE(sink->destroyed);
}

// Only a connection made for the sink is ended, on the component it was made
// on, whatever the wrapper given is bound to now; a cookie it never had
// reaches no component at all.
TEST_F(Advise, DisconnectReachesTheComponentTheConnectionWasMadeOn) {
  FakeComponent* other = rtest::make<FakeComponent>();  // its cookies start at 41 too
  jobject second = rtest::new_object(env, "ezjcom/JComObject");
  rtest::bind_com_id(env, second, other);
  ASSERT_EQ(advise(wrapper, listener), 41);
  ASSERT_EQ(advise(second, listener), 41);
  ASSERT_EQ(exception(), "");

  unadvise(wrapper, listener, 99);
  EXPECT_EQ(exception(), "ezjcom.JComException: COM error 0x80040200");
  jobject unbound = rtest::new_object(env, "ezjcom/JComObject");
  unadvise(unbound, listener, 42);
  EXPECT_EQ(exception(), "ezjcom.JComException: COM error 0x80040200");
  EXPECT_TRUE(component->unadvised.empty());
  EXPECT_TRUE(other->unadvised.empty());

  // The second wrapper now bound to the first component, as a released and
  // re-bound wrapper would be: its connection still ends on the other one.
  rtest::unbind_com_id(env, second);
  rtest::bind_com_id(env, second, component);
  unadvise(second, listener, 41);
  EXPECT_EQ(exception(), "");
  EXPECT_EQ(component->unadvised.size() + other->unadvised.size(), 1u);
  EXPECT_EQ(sink->releases.load(), 1) << "a connection is left: the reference is kept";
  EXPECT_EQ(rtest::int_field(env, listener, "eventId"), sink_value);
  unadvise(unbound, listener, 41);
  EXPECT_EQ(exception(), "");
  EXPECT_EQ(component->unadvised, std::vector<DWORD>{41});
  EXPECT_EQ(other->unadvised, std::vector<DWORD>{41});
  EXPECT_TRUE(sink->destroyed) << "with its last connection";
  EXPECT_EQ(rtest::int_field(env, listener, "eventId"), 0);

  rtest::unbind_com_id(env, second);
  for (jobject o : {second, unbound}) env->DeleteLocalRef(o);
  EXPECT_EQ(other->refs.load(), 1);
  EXPECT_EQ(other->point_refs.load(), 0);
  rtest::destroy(other);
}

// A sink advised twice keeps its reference until its last connection ends;
// cookie 0 ends every connection left, then gives the reference up.
TEST_F(Advise, ReferenceGoesWithTheLastConnection) {
  const jint first = advise(wrapper, listener);
  const jint second = advise(wrapper, listener);
  ASSERT_EQ(exception(), "");
  unadvise(wrapper, listener, first);
  EXPECT_EQ(exception(), "");
  EXPECT_EQ(sink->releases.load(), 1) << "the component's reference of the first connection";
  EXPECT_EQ(rtest::int_field(env, listener, "eventId"), sink_value);
  unadvise(wrapper, listener, 0);
  EXPECT_EQ(exception(), "");
  EXPECT_EQ(component->unadvised,
            (std::vector<DWORD>{static_cast<DWORD>(first), static_cast<DWORD>(second)}));
  EXPECT_TRUE(sink->destroyed);
  EXPECT_EQ(rtest::int_field(env, listener, "eventId"), 0);
}

// Another listener holding a copy of the field cannot connect, disconnect or
// give up the sink while the listener holding it is there.
TEST_F(Advise, CopyOfTheFieldGivesUpNothing) {
  const jint cookie = advise(wrapper, listener);
  ASSERT_EQ(exception(), "");
  jobject copy = rtest::new_object(env, "ezjcom/JComEventListener");
  rtest::set_int_field(env, copy, "eventId", sink_value);
  for (jint c : {cookie, 0}) {
    unadvise(wrapper, copy, c);
    EXPECT_EQ(exception(),
              "java.lang.IllegalStateException: The event sink belongs to another listener");
  }
  EXPECT_EQ(advise(wrapper, copy), 0);
  EXPECT_EQ(exception(),
            "java.lang.IllegalStateException: The event sink belongs to another listener");
  EXPECT_EQ(sink->releases.load(), 0);
  EXPECT_EQ(component->sinks.size(), 1u);
  unadvise(wrapper, listener, cookie);
  EXPECT_EQ(exception(), "");
  EXPECT_TRUE(sink->destroyed);
  EXPECT_EQ(sink->releases.load(), 2);
  env->DeleteLocalRef(copy);
}

// Two threads disconnecting one listener: the reference is given up once; the
// thread that loses gets an exception, never a second release.
TEST_F(Advise, RacingUnadvisesGiveTheReferenceUpOnce) {
  jobject shared_wrapper = env->NewGlobalRef(wrapper);
  jobject shared_listener = env->NewGlobalRef(listener);
  int lost = 0;
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    FakeSink* s = rtest::make<FakeSink>();
    rtest::bind_event_id(env, listener, s);
    const jint cookie = round % 2 ? advise(wrapper, listener) : 0;  // connected, or not
    ASSERT_EQ(exception(), "");
    std::atomic<int> ready{0};
    std::string outcome[2];
    auto race = [&](int i) {
      JNIEnv* e = jtz::test::env();
      ++ready;
      while (ready.load() < 2) {
      }
      e->CallVoidMethod(shared_wrapper, unadvise_method, shared_listener, cookie);
      outcome[i] = jtz::test::take_exception(e);
      jtz::test::vm()->DetachCurrentThread();
    };
    std::thread a(race, 0), b(race, 1);
    a.join();
    b.join();
    EXPECT_EQ(s->releases.load(), cookie ? 2 : 1) << "the creation reference once";
    EXPECT_TRUE(s->destroyed);
    EXPECT_TRUE(outcome[0].empty() || outcome[1].empty()) << outcome[0] << " / " << outcome[1];
    lost += !outcome[0].empty() + !outcome[1].empty();
    for (const std::string& o : outcome) {
      if (o.empty()) continue;
      EXPECT_TRUE(o == "java.lang.NullPointerException: Listener has no event sink" ||
                  o.rfind("java.lang.IllegalStateException", 0) == 0)
          << o;
    }
    rtest::destroy(s);
  }
  EXPECT_EQ(lost, 300) << "one loser a round";
  rtest::set_int_field(env, listener, "eventId", sink_value);
  env->DeleteGlobalRef(shared_wrapper);
  env->DeleteGlobalRef(shared_listener);
}

}  // namespace
