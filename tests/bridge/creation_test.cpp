// Library entry, creation of the component and binding of wrappers, driven
// through the JVM and checked against the runtime's journal.
#include <gtest/gtest.h>

#include <ezjcom/testing.h>

#include <functional>

#include "fixture.h"
#include "jvm.h"

using namespace jtz::test;

namespace {

constexpr char kClsid[] = "{834FBEE5-D957-11D3-9C50-0060972F00DC}";
constexpr char kIidScanMontura[] = "{834FBEE1-D957-11D3-9C50-0060972F00DC}";
constexpr char kIidEvents[] = "{834FBEE3-D957-11D3-9C50-0060972F00DC}";
constexpr char kIidUnknown[] = "{00000000-0000-0000-C000-000000000046}";
constexpr char kIidDispatch[] = "{00020400-0000-0000-C000-000000000046}";

class Creation : public ::testing::Test {
 protected:
  void SetUp() override {
    e = env();
    cls = Global(e->FindClass("puente/ScanMontura"));
    ezjcomTestReset();
  }

  Global new_wrapper() { return Global(e->AllocObject(static_cast<jclass>(cls.get()))); }

  jboolean create(jobject w, bool active, bool misc) {
    jmethodID m = e->GetMethodID(static_cast<jclass>(cls.get()), "__JComCreateObject", "(ZZ)Z");
    const jboolean ok = e->CallBooleanMethod(w, m, jboolean(active), jboolean(misc));
    e->ExceptionCheck();  // what the native raised is the test's to take
    return ok;
  }

  jboolean create_remote(jstring machine, jstring t2, jstring t3, jstring t4, jint v) {
    jmethodID m = e->GetStaticMethodID(
        static_cast<jclass>(cls.get()), "__JComCreateObjectRemote",
        "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;I)Z");
    const jboolean ok =
        e->CallStaticBooleanMethod(static_cast<jclass>(cls.get()), m, machine, t2, t3, t4, v);
    e->ExceptionCheck();  // what the native raised is the test's to take
    return ok;
  }

  jboolean load(const char* wrapperClass, jobject target, jobject source, bool allowDispatch) {
    jclass c = e->FindClass(wrapperClass);
    jmethodID m = e->GetMethodID(c, "__JComLoad", "(Lezjcom/JComObject;Z)Z");
    e->DeleteLocalRef(c);
    const jboolean ok = e->CallBooleanMethod(target, m, source, jboolean(allowDispatch));
    e->ExceptionCheck();  // what the native raised is the test's to take
    return ok;
  }

  Global new_of(const char* wrapperClass) {
    jclass c = e->FindClass(wrapperClass);
    Global g(e->AllocObject(c));
    e->DeleteLocalRef(c);
    return g;
  }

  JNIEnv* e = nullptr;
  Global cls;
};

// Runs before anything resets the journal: the calls made while the library loaded.
TEST(LibraryEntry, ProcessAttachInitialisesRuntimeThenHandsOverTheMap) {
  // Loading the wrapper class loads the library; __JComGetGUID makes no runtime call.
  JNIEnv* e = env();
  jclass c = e->FindClass("puente/ScanMontura");
  jobject guid = e->CallStaticObjectMethod(
      c, e->GetStaticMethodID(c, "__JComGetGUID", "()Ljava/lang/String;"));
  ASSERT_EQ(take_exception(e), "");
  e->DeleteLocalRef(guid);
  e->DeleteLocalRef(c);
  const auto journal = ezjcom_journal();
  ASSERT_GE(journal.size(), 2u);
  EXPECT_EQ(journal[0], "ezjcomInitDLL18 1");
  EXPECT_EQ(journal[1],
            std::string("ezjcomIidMapTypes 1 ") + kIidScanMontura + " puente/IScanMontura");
  EXPECT_EQ(ezjcom_journal_of("ezjcomInitDLL18").size(), 1u);
  EXPECT_EQ(ezjcom_journal_of("ezjcomIidMapTypes").size(), 1u);
  static const IID iid = {
      0x834FBEE1, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};
  ASSERT_NE(ezjcomTestIidMapClass(&iid), nullptr);
  EXPECT_STREQ(ezjcomTestIidMapClass(&iid), "puente/IScanMontura");
}

TEST_F(Creation, GuidTextAndNewObj) {
  jmethodID guid =
      e->GetStaticMethodID(static_cast<jclass>(cls.get()), "__JComGetGUID", "()Ljava/lang/String;");
  auto text = static_cast<jstring>(e->CallStaticObjectMethod(static_cast<jclass>(cls.get()), guid));
  EXPECT_EQ(str(text), kClsid);
  e->DeleteLocalRef(text);

  jmethodID newObj = e->GetStaticMethodID(static_cast<jclass>(cls.get()), "__JComNewObj",
                                          "(Ljava/lang/Class;)Ljava/lang/Object;");
  auto make = [&](const char* name) {
    jclass c = e->FindClass(name);
    jobject made = e->CallStaticObjectMethod(static_cast<jclass>(cls.get()), newObj, c);
    e->ExceptionCheck();  // what the native raised is the test's to take
    Global o(made);
    e->DeleteLocalRef(c);
    return o;
  };
  auto field = [&](jobject o, const char* name, const char* sig) {
    jclass c = e->GetObjectClass(o);
    jfieldID f = e->GetFieldID(c, name, sig);
    e->DeleteLocalRef(c);
    return f;
  };

  // Without a no-argument constructor: an instance no constructor ran on.
  Global bare = make("jtztest/NoDefaultConstructor");
  ASSERT_TRUE(bare.get());
  EXPECT_EQ(take_exception(e), "");
  EXPECT_EQ(e->GetIntField(bare, field(bare, "value", "I")), 0);
  EXPECT_FALSE(e->GetBooleanField(bare, field(bare, "constructed", "Z")));

  Global built = make("jtztest/WithDefaultConstructor");
  ASSERT_TRUE(built.get());
  EXPECT_TRUE(e->GetBooleanField(built, field(built, "constructed", "Z")));

  // A throwing constructor: null, and its exception stays pending.
  Global failed = make("jtztest/ThrowingConstructor");
  EXPECT_FALSE(failed.get());
  EXPECT_EQ(take_exception(e), "java.lang.IllegalStateException: constructor refused");

  EXPECT_FALSE(e->CallStaticObjectMethod(static_cast<jclass>(cls.get()), newObj, nullptr));
  EXPECT_EQ(take_exception(e), "java.lang.NullPointerException: Argument 1 is null");
  EXPECT_EQ(ezjcom_journal(),
            std::vector<std::string>{"ezjcomFindClass java/lang/NullPointerException"})
      << "no runtime call but the lookup of the exception class";

  // What cannot be instantiated ends in InstantiationException and null,
  // primitive types (whose Class is no class to JNI) included.
  auto primitive = [&](const char* box) {
    jclass c = e->FindClass(box);
    jobject type = e->GetStaticObjectField(c, e->GetStaticFieldID(c, "TYPE", "Ljava/lang/Class;"));
    e->DeleteLocalRef(c);
    return static_cast<jclass>(type);
  };
  const struct {
    const char* what;
    jclass type;
    const char* thrown;
  } refused[] = {
      {"int", primitive("java/lang/Integer"), "java.lang.InstantiationException: int"},
      {"void", primitive("java/lang/Void"), "java.lang.InstantiationException: void"},
      {"an interface", e->FindClass("java/lang/Runnable"),
       "java.lang.InstantiationException: java.lang.Runnable"},
      {"an abstract class", e->FindClass("java/lang/Number"),
       "java.lang.InstantiationException: java.lang.Number"},
      {"an array", e->FindClass("[I"), "java.lang.InstantiationException: [I"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.what);
    ASSERT_TRUE(r.type);
    jobject made = e->CallStaticObjectMethod(static_cast<jclass>(cls.get()), newObj, r.type);
    EXPECT_EQ(take_exception(e), r.thrown);
    EXPECT_FALSE(made);
    e->DeleteLocalRef(r.type);
  }
}

TEST_F(Creation, ModesAndTheirPrecedence) {
  Global first = new_wrapper();  // a new instance registers itself as running
  ASSERT_TRUE(create(first, false, false));
  EXPECT_NE(com_id(first), 0);
  EXPECT_EQ(ezjcom_journal_of("ezjcomCreateInstance"),
            std::vector<std::string>{std::string("ezjcomCreateInstance ") + kClsid});

  ezjcomTestReset();
  Global active = new_wrapper();
  ASSERT_TRUE(create(active, true, true));  // activeInstance wins
  EXPECT_EQ(ezjcom_journal_of("ezjcomGetActiveInstance").size(), 1u);
  EXPECT_TRUE(ezjcom_journal_of("ezjcomMiscFunc4").empty());
  EXPECT_TRUE(ezjcom_journal_of("ezjcomCreateInstance").empty());
  // The running instance is the first one.
  EXPECT_EQ(com_object(active), com_object(first));

  ezjcomTestReset();
  Global misc = new_wrapper();
  ASSERT_TRUE(create(misc, false, true));
  EXPECT_EQ(ezjcom_journal_of("ezjcomMiscFunc4"),
            std::vector<std::string>{std::string("ezjcomMiscFunc4 ") + kClsid + " 0"});

  // Each creation: the thread registered first, the access type set last.
  const auto journal = ezjcom_journal();
  ASSERT_FALSE(journal.empty());
  EXPECT_EQ(journal.front(), "ezjcomInitThread env");
  EXPECT_EQ(journal.back(), "ezjcomSetAccessType 2");
  EXPECT_EQ(take_exception(e), "");
}

TEST_F(Creation, FailureRaisesAndStoresNothing) {
  Global w = new_wrapper();
  ezjcomTestForceHresult("ezjcomCreateInstance", static_cast<HRESULT>(0x80040154), 1);
  EXPECT_FALSE(create(w, false, false));
  EXPECT_EQ(take_exception(e).rfind("ezjcom.JComException: COM error 0x80040154", 0), 0u);
  EXPECT_EQ(com_id(w), 0) << "a failed creation leaves the field as it was";
  EXPECT_TRUE(ezjcom_journal_of("ezjcomSetAccessType").empty());

  // No running instance: the runtime's failure.
  ezjcomTestReset();
  ezjcomTestForceHresult("ezjcomGetActiveInstance", static_cast<HRESULT>(0x800401E3), 1);
  EXPECT_FALSE(create(w, true, false));
  EXPECT_NE(take_exception(e).find("0x800401E3"), std::string::npos);
}

constexpr char kAlreadyBound[] = "java.lang.IllegalStateException: JComObject is already bound";

// A bound wrapper is never bound again: its pointer would be lost, and with it
// what was connected through it. Nothing is created or queried.
TEST_F(Creation, BoundWrappersAreNotRebound) {
  Global component = new_component();
  Global dispatch = bind_dispatch(component);
  Global events = new_of("puente/IScanMonturaEvents");
  ASSERT_TRUE(load("puente/IScanMonturaEvents", events, component, true));
  ASSERT_EQ(take_exception(e), "");
  const struct {
    const char* what;
    jobject wrapper;
    std::function<jboolean()> bind;
    const char* raised;  // the events wrapper's binding never raises: false says it
  } cases[] = {
      {"create", component, [&] { return create(component, false, false); }, kAlreadyBound},
      {"running instance", component, [&] { return create(component, true, false); },
       kAlreadyBound},
      {"IScanMontura", dispatch,
       [&] { return load("puente/IScanMontura", dispatch, component, true); }, kAlreadyBound},
      {"IScanMonturaEvents", events,
       [&] { return load("puente/IScanMonturaEvents", events, component, true); }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const jint before = com_id(c.wrapper);
    ezjcomTestReset();
    EXPECT_FALSE(c.bind());
    EXPECT_EQ(take_exception(e), c.raised);
    EXPECT_EQ(com_id(c.wrapper), before);
    for (const char* op :
         {"ezjcomCreateInstance", "ezjcomGetActiveInstance", "ezjcomQueryInterface"})
      EXPECT_TRUE(ezjcom_journal_of(op).empty()) << op;
  }
}

TEST_F(Creation, FatalErrorEndsCreationWithoutException) {
  Global w = new_wrapper();
  ezjcomTestFatalAfter("ezjcomCreateInstance", 1);
  EXPECT_FALSE(create(w, false, false));
  EXPECT_EQ(take_exception(e), "");
  EXPECT_EQ(com_id(w), 0);
  EXPECT_TRUE(ezjcom_journal_of("ezjcomSetAccessType").empty());
  EXPECT_TRUE(ezjcom_journal_of("ezjcomThrowComExceptionObject").empty());
}

TEST_F(Creation, RemoteCreation) {
  jstring host = e->NewStringUTF("tracer-host.example");
  jstring user = e->NewStringUTF("operator");
  // A machine other than this one cannot be reached here: a clear COM failure.
  EXPECT_FALSE(create_remote(host, nullptr, nullptr, nullptr, 7));
  EXPECT_NE(take_exception(e).find("0x800706BA"), std::string::npos);
  EXPECT_EQ(ezjcom_journal_of("ezjcomCreateInstanceRemote"),
            std::vector<std::string>{std::string("ezjcomCreateInstanceRemote ") + kClsid +
                                     " tracer-host.example null null null 2 7 " + kIidUnknown +
                                     "," + kIidScanMontura});

  ezjcomTestReset();
  jstring loopback = e->NewStringUTF("localhost");
  EXPECT_TRUE(create_remote(loopback, user, nullptr, nullptr, -1));
  EXPECT_EQ(take_exception(e), "");
  const auto calls = ezjcom_journal_of("ezjcomCreateInstanceRemote");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].find(" localhost given null null 2 -1 "), std::string::npos) << calls[0];
  EXPECT_TRUE(ezjcom_journal_of("ezjcomSetAccessType").empty());

  ezjcomTestReset();
  EXPECT_FALSE(create_remote(nullptr, user, nullptr, nullptr, 0));
  EXPECT_EQ(take_exception(e), "java.lang.NullPointerException: RemoteMachine name is null");
  EXPECT_TRUE(ezjcom_journal_of("ezjcomCreateInstanceRemote").empty());

  // A name with a NUL in it would end there for the runtime: refused, nothing created.
  ezjcomTestReset();
  const jchar cut[] = {'l', 'o', 'c', 'a', 'l', 'h', 'o', 's', 't', 0, '.', 'f', 'a', 'r'};
  jstring embedded = e->NewString(cut, sizeof cut / sizeof cut[0]);
  EXPECT_FALSE(create_remote(embedded, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(take_exception(e),
            "java.lang.IllegalArgumentException: RemoteMachine name contains a NUL character");
  EXPECT_TRUE(ezjcom_journal_of("ezjcomCreateInstanceRemote").empty());
  e->DeleteLocalRef(embedded);

  ezjcomTestReset();
  ezjcomTestFatalAfter("ezjcomCreateInstanceRemote", 1);
  EXPECT_FALSE(create_remote(loopback, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(take_exception(e), "");
  for (jstring s : {host, user, loopback}) e->DeleteLocalRef(s);
}

// Created through a loopback name, the object is what the next running-instance
// binding reaches, even with other instances running; after that nothing but
// its users holds it.
TEST_F(Creation, LoopbackCreationIsTheNextRunningInstance) {
  Global component = new_component();  // one instance at least is running
  Global earlier = new_wrapper();      // takes what an earlier remote creation left
  ASSERT_TRUE(create(earlier, true, false));
  Global before = new_wrapper();
  ASSERT_TRUE(create(before, true, false));
  jstring loopback = e->NewStringUTF("localhost");
  ASSERT_TRUE(create_remote(loopback, nullptr, nullptr, nullptr, 0));
  ASSERT_EQ(take_exception(e), "");
  e->DeleteLocalRef(loopback);

  Global remote = new_wrapper();
  ASSERT_TRUE(create(remote, true, false));
  IUnknown* made = com_object(remote);
  EXPECT_NE(made, com_object(before)) << "the remotely created object, not the earliest running";
  EXPECT_NE(made, com_object(component));
  made->AddRef();
  EXPECT_EQ(made->Release(), 1u) << "held by its wrapper alone";

  Global after = new_wrapper();
  ASSERT_TRUE(create(after, true, false));
  EXPECT_EQ(com_object(after), com_object(before)) << "taken: the earlier instance again";
  EXPECT_EQ(take_exception(e), "");
}

TEST_F(Creation, LoadBindsInterfacesWithDispatchFallback) {
  Global component = new_component();
  ASSERT_NE(com_id(component), 0);

  Global dispatch = new_of("puente/IScanMontura");
  ezjcomTestReset();
  EXPECT_TRUE(load("puente/IScanMontura", dispatch, component, false));
  EXPECT_NE(com_id(dispatch), 0);
  EXPECT_EQ(ezjcom_journal_of("ezjcomQueryInterface"),
            std::vector<std::string>{std::string("ezjcomQueryInterface ") + kIidScanMontura});

  // The interface missing, the fallback allowed: the plain IDispatch is bound.
  Global fallback = new_of("puente/IScanMontura");
  ezjcomTestReset();
  ezjcomTestForceHresult("ezjcomQueryInterface", E_NOINTERFACE, 1);
  EXPECT_TRUE(load("puente/IScanMontura", fallback, component, true));
  EXPECT_EQ(ezjcom_journal_of("ezjcomQueryInterface"),
            (std::vector<std::string>{std::string("ezjcomQueryInterface ") + kIidScanMontura,
                                      std::string("ezjcomQueryInterface ") + kIidDispatch}));
  EXPECT_NE(com_id(fallback), 0);

  // Without the fallback: IScanMontura raises, IScanMonturaEvents only answers false.
  Global refused = new_of("puente/IScanMontura");
  ezjcomTestForceHresult("ezjcomQueryInterface", E_NOINTERFACE, 1);
  EXPECT_FALSE(load("puente/IScanMontura", refused, component, false));
  EXPECT_NE(take_exception(e).find("0x80004002"), std::string::npos);
  EXPECT_EQ(com_id(refused), 0);

  // The component has no IScanMonturaEvents interface of its own.
  Global events = new_of("puente/IScanMonturaEvents");
  ezjcomTestReset();
  EXPECT_FALSE(load("puente/IScanMonturaEvents", events, component, false));
  EXPECT_EQ(take_exception(e), "");
  EXPECT_EQ(ezjcom_journal_of("ezjcomQueryInterface"),
            std::vector<std::string>{std::string("ezjcomQueryInterface ") + kIidEvents});
  EXPECT_TRUE(load("puente/IScanMonturaEvents", events, component, true));
  EXPECT_NE(com_id(events), 0);

  // Both unavailable: false without an exception, whatever the class.
  ezjcomTestForceHresult("ezjcomQueryInterface", E_NOINTERFACE, 2);
  EXPECT_FALSE(load("puente/IScanMontura", refused, component, true));
  EXPECT_EQ(take_exception(e), "");
}

TEST_F(Creation, LoadStopsAtFatalErrorAndRefusesNullSource) {
  Global component = new_component();
  Global dispatch = new_of("puente/IScanMontura");
  ezjcomTestReset();
  ezjcomTestForceHresult("ezjcomQueryInterface", E_NOINTERFACE, 1);
  ezjcomTestFatalAfter("ezjcomQueryInterface", 1);
  EXPECT_FALSE(load("puente/IScanMontura", dispatch, component, true));
  EXPECT_EQ(take_exception(e), "");
  EXPECT_EQ(ezjcom_journal_of("ezjcomQueryInterface").size(), 1u) << "no IDispatch retry";

  EXPECT_FALSE(load("puente/IScanMontura", dispatch, nullptr, true));
  EXPECT_EQ(take_exception(e), "java.lang.NullPointerException: Argument 1 is null");
  EXPECT_EQ(com_id(dispatch), 0);
}

}  // namespace
