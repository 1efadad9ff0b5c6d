// The event sink: COM identity and reference counting, delivery to Java
// listeners directly and through the runtime, and listener registration.
#include <gtest/gtest.h>

#include <ezjcom/testing.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "event_sink.h"
#include "fixture.h"
#include "jni_override.h"
#include "jvm.h"
#include "scanmontura_interface.h"

using namespace jtz::test;
using jtz::ScanMonturaEventSink;

namespace {

const IID kIidEvents = {
    0x834FBEE3, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};
const IID kIidQuery = {
    0xB14F3C49, 0x0C7B, 0x4439, {0xA2, 0x48, 0x62, 0x29, 0xFE, 0x6D, 0x96, 0x05}};

class Events : public ::testing::Test {
 protected:
  void SetUp() override {
    e = env();
    ezjcomTestReset();
    refs_at_start = global_ref_count();
  }

  // Makes `listener` a listener; returns its sink (the creation reference is the field's).
  // Called through IDispatch, as the component calls it.
  IDispatch* listen(jobject listener) {
    jclass c = e->FindClass("puente/IScanMonturaEvents");
    jboolean ok =
        e->CallBooleanMethod(listener, e->GetMethodID(c, "__JComEventListenerInit", "()Z"));
    EXPECT_EQ(take_exception(e), "");
    e->DeleteLocalRef(c);
    EXPECT_TRUE(ok);
    return static_cast<IDispatch*>(ezjcomTestObjectOf(event_id(listener)));
  }

  static const ScanMonturaEventSink* fields(IDispatch* sink) {
    return static_cast<const ScanMonturaEventSink*>(sink);
  }

  HRESULT fire(IDispatch* sink, DISPID dispid, VARIANT* args = nullptr, UINT count = 0,
               DISPID* named = nullptr, UINT namedCount = 0, WORD flags = DISPATCH_METHOD) {
    DISPPARAMS p{args, named, count, namedCount};
    return sink->Invoke(dispid, IID_NULL, 0x0409, flags, &p, nullptr, nullptr, nullptr);
  }

  JNIEnv* e = nullptr;
  long refs_at_start = 0;
};

TEST_F(Events, SinkIdentityAndReferenceCounting) {
  Global listener = new_object("jtztest/FullListener");
  const long refs = global_ref_count();
  IDispatch* sink = listen(listener);
  ASSERT_TRUE(sink);
  EXPECT_EQ(global_ref_count_settling_at(refs + 1), refs + 1) << "the sink holds its listener";
  EXPECT_FALSE(fields(sink)->serverSide());
  EXPECT_EQ(fields(sink)->serverSideValue(), nullptr);
  EXPECT_TRUE(e->IsSameObject(fields(sink)->javaObject(), listener));

  ULONG count = 1;
  for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &kIidEvents}) {
    void* out = nullptr;
    ASSERT_EQ(sink->QueryInterface(*iid, &out), S_OK);
    EXPECT_EQ(out, sink);
    ++count;
  }
  void* answer = nullptr;
  ASSERT_EQ(sink->QueryInterface(kIidQuery, &answer), S_OK);
  const auto* served = static_cast<const IID*>(answer);
  ASSERT_TRUE(served);
  EXPECT_EQ(0, std::memcmp(served, &kIidEvents, sizeof(IID)));
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(sink->QueryInterface(IID_IConnectionPoint, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  UINT info = 77;
  EXPECT_EQ(sink->GetTypeInfoCount(&info), E_NOTIMPL);
  EXPECT_EQ(info, 77u);
  EXPECT_EQ(sink->GetTypeInfo(0, 0, nullptr), E_NOTIMPL);
  EXPECT_EQ(sink->GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr), E_NOTIMPL);

  // The query identifier added no reference: the count is exactly the QIs'.
  EXPECT_EQ(sink->AddRef(), count + 1);
  for (ULONG n = count + 1; n > 1; --n) EXPECT_EQ(sink->Release(), n - 1);
  EXPECT_EQ(sink->Release(), 0u) << "the creation reference, last";
  EXPECT_EQ(global_ref_count_settling_at(refs), refs)
      << "the listener's global reference deleted once";
}

TEST_F(Events, ConcurrentAddRefRelease) {
  Global listener = new_object("jtztest/FullListener");
  IDispatch* sink = listen(listener);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([sink] {
      for (int i = 0; i < 20000; ++i) {
        sink->AddRef();
        sink->Release();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(sink->AddRef(), 2u);
  EXPECT_EQ(sink->Release(), 1u);
  EXPECT_EQ(sink->Release(), 0u);
}

// A component that calls a sink after releasing it misbehaves; the sink, dead,
// answers S_OK without calling Java, and its address is never another sink's,
// so that a stale pointer cannot reach another listener. A release racing a
// delivery leaves the delivery its sink until it is over.
TEST_F(Events, LateCallsReachNoListener) {
  Global first = new_object("jtztest/FullListener");
  IDispatch* dead = listen(first);
  ASSERT_EQ(dead->Release(), 0u);
  std::vector<Global> later;
  for (int i = 0; i < 64; ++i) {
    later.push_back(new_object("jtztest/FullListener"));
    EXPECT_NE(listen(later.back()), dead) << "a dead sink's address was given to another";
  }
  for (DISPID id : {1, 2, 3}) EXPECT_EQ(fire(dead, id), S_OK);
  EXPECT_EQ(dead->AddRef(), 0u);
  EXPECT_EQ(take_exception(e), "");
  for (const Global& l : later) {
    EXPECT_TRUE(recorded(l).empty());
    ezjcomTestObjectOf(event_id(l))->Release();
  }
  EXPECT_TRUE(recorded(first).empty());

  Global racing = new_object("jtztest/FullListener");
  IDispatch* sink = listen(racing);
  std::thread firing([this, sink] {
    for (int i = 0; i < 2000; ++i) fire(sink, 1);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  sink->Release();  // the last reference, while events arrive
  firing.join();
  EXPECT_LE(recorded(racing).size(), 2000u);
  // No sink holds its listener any more: what is left are the test's own references.
  const long own = refs_at_start + static_cast<long>(later.size()) + 2;
  EXPECT_EQ(global_ref_count_settling_at(own), own);
}

TEST_F(Events, DirectDeliveryReachesExactlyItsMethod) {
  Global listener = new_object("jtztest/FullListener");
  IDispatch* sink = listen(listener);
  EXPECT_EQ(fire(sink, 1), S_OK);
  EXPECT_EQ(fire(sink, 2, nullptr, 0, nullptr, 0, DISPATCH_PROPERTYGET), S_OK) << "any flags";
  EXPECT_EQ(fire(sink, 3), S_OK);
  for (DISPID other : {4, 5, 6, 7, 8, 10, 0, -1}) EXPECT_EQ(fire(sink, other), S_OK);
  EXPECT_EQ(recorded(listener), (std::vector<std::string>{"OnChange", "OnClick", "OnDblClick"}));
  EXPECT_EQ(take_exception(e), "");
  sink->Release();
}

TEST_F(Events, MissingMethodsAndThrowingListeners) {
  Global partial = new_object("jtztest/PartialListener");
  IDispatch* sink = listen(partial);
  EXPECT_EQ(fire(sink, 2), S_OK);  // no OnClick
  EXPECT_EQ(fire(sink, 3), S_OK);  // OnDblClick throws
  EXPECT_EQ(take_exception(e), "");
  const auto calls = recorded(partial);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], "JComOnEventError OnClick Unable to locate method");
  EXPECT_EQ(calls[1], "OnDblClick");
  EXPECT_EQ(calls[2], "JComOnEventException OnDblClick");
  // The very exception the listener threw.
  jclass c = e->GetObjectClass(partial);
  jobject thrown =
      e->GetObjectField(partial, e->GetFieldID(c, "thrown", "Ljava/lang/RuntimeException;"));
  jobject rec = e->GetObjectField(partial, e->GetFieldID(c, "calls", "Ljtztest/Recorder;"));
  jclass rc = e->GetObjectClass(rec);
  jobject got = e->CallObjectMethod(rec, e->GetMethodID(rc, "object", "(I)Ljava/lang/Object;"), 2);
  EXPECT_EQ(take_exception(e), "");
  EXPECT_TRUE(e->IsSameObject(thrown, got));
  for (jobject o : {static_cast<jobject>(c), thrown, rec, static_cast<jobject>(rc), got})
    e->DeleteLocalRef(o);
  sink->Release();

  // No callbacks at all, and a callback that throws: nothing escapes.
  Global bare = new_object("jtztest/BareListener");
  sink = listen(bare);
  EXPECT_EQ(fire(sink, 2), S_OK);
  EXPECT_EQ(fire(sink, 1), S_OK);
  EXPECT_EQ(take_exception(e), "");
  EXPECT_EQ(recorded(bare),
            (std::vector<std::string>{"OnChange", "JComOnEventException OnChange"}));
  sink->Release();
}

TEST_F(Events, KeyPressArgument) {
  Global listener = new_object("jtztest/FullListener");
  IDispatch* sink = listen(listener);
  VARIANT arg;
  arg.vt = VT_UI1;
  arg.bVal = 'a';
  fire(sink, 9, &arg, 1);
  arg.vt = VT_I4;
  arg.lVal = 'b';
  fire(sink, 9, &arg, 1);
  fire(sink, 9, nullptr, 0);  // too few arguments: a null array, nothing read
  arg.vt = VT_R8;
  arg.dblVal = 1;
  fire(sink, 9, &arg, 1);  // a type no key comes as
  // A named argument with DISPID 0 is the key, wherever it stands.
  VARIANT two[2];
  two[0].vt = VT_I2;
  two[0].iVal = 'x';
  two[1].vt = VT_I2;
  two[1].iVal = 'c';
  DISPID named[2] = {5, 0};
  fire(sink, 9, two, 2, named, 2);
  EXPECT_EQ(recorded(listener),
            (std::vector<std::string>{"OnKeyPress 1:97", "OnKeyPress 1:98", "OnKeyPress null",
                                      "OnKeyPress null", "OnKeyPress 1:99"}));

  // By reference, the listener's change reaches the component.
  jclass c = e->GetObjectClass(listener);
  e->SetIntField(listener, e->GetFieldID(c, "replaceKey", "I"), 'Z');
  SHORT key = 'q';
  arg.vt = VT_BYREF | VT_I2;
  arg.piVal = &key;
  fire(sink, 9, &arg, 1);
  EXPECT_EQ(key, 'Z');
  BYTE small = 'q';
  arg.vt = VT_BYREF | VT_UI1;
  arg.pbVal = &small;
  e->SetIntField(listener, e->GetFieldID(c, "replaceKey", "I"), 0);  // swallowed
  fire(sink, 9, &arg, 1);
  EXPECT_EQ(small, 0);
  e->DeleteLocalRef(c);
  EXPECT_EQ(take_exception(e), "");
  sink->Release();
}

// A key is delivered as the one byte it fits in, or as null; a listener's
// change is written back only to a key that was delivered, in the key's type.
TEST_F(Events, KeyPressDeliversWhatFitsAByteAndWritesBackOnlyThat) {
  Global listener = new_object("jtztest/FullListener");
  IDispatch* sink = listen(listener);
  jclass c = e->GetObjectClass(listener);
  e->SetIntField(listener, e->GetFieldID(c, "replaceKey", "I"), 'Z');
  e->DeleteLocalRef(c);
  struct Case {
    VARTYPE vt;
    LONG key;
    const char* seen;  // what the listener saw
    LONG after;        // the key the component has afterwards
  };
  const Case cases[] = {
      {VT_UI1, 0xE9, "OnKeyPress 1:-23", 'Z'},
      {VT_I1, -23, "OnKeyPress 1:-23", 'Z'},
      {VT_I2, 'a', "OnKeyPress 1:97", 'Z'},
      {VT_I2, 0xE9, "OnKeyPress 1:-23", 'Z'},
      {VT_I2, 0xFF, "OnKeyPress 1:-1", 'Z'},
      {VT_I2, 0x161, "OnKeyPress null", 0x161},
      {VT_I2, 0x141, "OnKeyPress null", 0x141},
      {VT_I2, -1, "OnKeyPress null", -1},
      {VT_UI2, 0xE9, "OnKeyPress 1:-23", 'Z'},
      {VT_UI2, 0x100, "OnKeyPress null", 0x100},
      {VT_I4, 0xFF, "OnKeyPress 1:-1", 'Z'},
      {VT_I4, 0x10000 + 'a', "OnKeyPress null", 0x10061},
      {VT_UI4, 0x20AC, "OnKeyPress null", 0x20AC},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.vt) + " " + std::to_string(k.key));
    for (bool byRef : {false, true}) {
      recorded(listener);  // nothing pending
      jclass lc = e->GetObjectClass(listener);
      jobject rec = e->GetObjectField(listener, e->GetFieldID(lc, "calls", "Ljtztest/Recorder;"));
      jclass rc = e->GetObjectClass(rec);
      e->CallVoidMethod(rec, e->GetMethodID(rc, "clear", "()V"));
      ASSERT_EQ(take_exception(e), "");
      for (jobject o : {static_cast<jobject>(lc), rec, static_cast<jobject>(rc)})
        e->DeleteLocalRef(o);

      union {
        LONG l;
        SHORT s;
        USHORT us;
        CHAR c;
        BYTE b;
      } value{};  // by reference: the component's own storage
      const bool narrow = k.vt == VT_I2 || k.vt == VT_UI2;
      const bool tiny = k.vt == VT_I1 || k.vt == VT_UI1;
      if (narrow)
        value.s = static_cast<SHORT>(k.key);
      else if (tiny)
        value.c = static_cast<CHAR>(k.key);
      else
        value.l = k.key;
      VARIANT arg;
      VariantInit(&arg);
      arg.vt = byRef ? static_cast<VARTYPE>(k.vt | VT_BYREF) : k.vt;
      if (byRef)
        arg.byref = &value;
      else
        arg.lVal = value.l;  // the value's bytes, as the member of its type
      EXPECT_EQ(fire(sink, 9, &arg, 1), S_OK);
      EXPECT_EQ(recorded(listener), std::vector<std::string>{k.seen});
      if (byRef) {
        LONG now = value.l;
        if (k.vt == VT_I2) now = value.s;
        if (k.vt == VT_UI2) now = value.us;
        if (k.vt == VT_I1) now = value.c;
        if (k.vt == VT_UI1) now = value.b;
        EXPECT_EQ(now, k.after) << "written back";
      }
    }
  }
  EXPECT_EQ(take_exception(e), "");
  sink->Release();
}

// Where the simulated component fires the OnChange of a member call: queued to
// its event thread, or inside the call, as many real controls do
// (SCANMONTURA_SIM_EVENTS, read when a component is created).
enum class Firing { kQueued, kInCall };

std::string FiringName(const ::testing::TestParamInfo<Firing>& info) {
  return info.param == Firing::kInCall ? "InCall" : "Queued";
}

// A component to listen to, made in either mode; the tests run in both.
class Registration : public Events, public ::testing::WithParamInterface<Firing> {
 protected:
  void SetUp() override {
    Events::SetUp();
    setenv("SCANMONTURA_SIM_EVENTS", in_call() ? "in-call" : "queued", 1);
    component = new_component();
    sim = sim_control(component);
    ASSERT_TRUE(sim.get());
    ezjcomTestReset();
    refs_at_start = global_ref_count();  // the component's own reference counted in
  }
  void TearDown() override {
    if (sim.get()) {
      EXPECT_EQ(sim->WaitIdle(5000), S_OK);
    }
    unsetenv("SCANMONTURA_SIM_EVENTS");
  }

  bool in_call() const { return GetParam() == Firing::kInCall; }

  jobject remote_add(const char* name) {
    jclass c = e->FindClass("puente/ScanMontura");
    jmethodID m = e->GetMethodID(c, "__RemoteEventAdd", "(Ljava/lang/String;)[Ljava/lang/Object;");
    e->DeleteLocalRef(c);
    jstring s = name ? e->NewStringUTF(name) : nullptr;
    // The exception, if any, is the test's to take before its next JNI call.
    jobject r = e->CallObjectMethod(component, m, s);
    e->ExceptionCheck();
    if (s) e->DeleteLocalRef(s);
    return r;
  }

  void unadvise(jobject listener, jint cookie) {
    jclass c = e->FindClass("ezjcom/JComObject");
    jmethodID m = e->GetMethodID(c, "__JComUnadvise", "(Lezjcom/JComEventListener;I)V");
    e->DeleteLocalRef(c);
    e->CallVoidMethod(component, m, listener, cookie);
    e->ExceptionCheck();  // left for the test to take
  }

  jint advise(jobject listener) {
    jclass c = e->FindClass("ezjcom/JComObject");
    jmethodID m = e->GetMethodID(c, "__JComAdvise", "(Lezjcom/JComEventListener;)I");
    e->DeleteLocalRef(c);
    const jint cookie = e->CallIntMethod(component, m, listener);
    e->ExceptionCheck();  // left for the test to take
    return cookie;
  }

  Global component;
  Ref<ISimControl> sim;
};

TEST_P(Registration, RemoteEventAddAndServerSideDelivery) {
  auto result = static_cast<jobjectArray>(remote_add("puente.IScanMonturaEvents"));
  ASSERT_TRUE(result) << take_exception(e);
  ASSERT_EQ(e->GetArrayLength(result), 2);
  jobject listener = e->GetObjectArrayElement(result, 0);
  jobject boxed = e->GetObjectArrayElement(result, 1);
  jclass listenerClass = e->FindClass("ezjcom/JComEventListener");
  EXPECT_TRUE(e->IsInstanceOf(listener, listenerClass));
  ASSERT_NE(event_id(listener), 0);
  jclass integer = e->FindClass("java/lang/Integer");
  const jint cookie = e->CallIntMethod(boxed, e->GetMethodID(integer, "intValue", "()I"));
  ASSERT_EQ(take_exception(e), "");
  EXPECT_EQ(ezjcom_journal_of("__JComAdvise"),
            std::vector<std::string>{"__JComAdvise " + std::to_string(cookie)});

  auto* sink = static_cast<IDispatch*>(ezjcomTestObjectOf(event_id(listener)));
  EXPECT_TRUE(fields(sink)->serverSide());
  EXPECT_TRUE(e->IsSameObject(fields(sink)->javaObject(), component));

  // The component fires: each event reaches the runtime with exactly these values.
  EzjcomServerSideRecord r{};
  ASSERT_EQ(sim->DblClick(), S_OK);
  ezjcomTestLastServerSide(&r);
  EXPECT_EQ(r.calls, 1);
  EXPECT_TRUE(e->IsSameObject(r.javaObject, component));
  EXPECT_EQ(r.argCount, 0);
  EXPECT_EQ(r.flags, 0);
  EXPECT_STREQ(r.returnType, "void");
  EXPECT_STREQ(r.eventName, "OnDblClick");
  const jobject value = r.serverSideValue;
  EXPECT_EQ(str(static_cast<jstring>(value)), "puente.IScanMonturaEvents");

  const jchar typed[] = {'k', 0};
  ASSERT_EQ(sim->TypeText(reinterpret_cast<LPCOLESTR>(typed)), S_OK);
  ezjcomTestLastServerSide(&r);
  EXPECT_EQ(r.serverSideValue, value) << "the same String every time";
  // Typing fires OnKeyPress then OnChange: look at the key press in the journal.
  EXPECT_EQ(ezjcom_journal_of("OnServerSideEvent").size(), 3u);
  EXPECT_EQ(ezjcom_journal_of("OnServerSideEvent")[1],
            "OnServerSideEvent 1 0 void OnKeyPress 0 byte []");

  // The gate: delivery off, nothing reaches the runtime.
  ezjcomTestSetServerSideEvents(0);
  sim->Click();
  ezjcomTestLastServerSide(&r);
  EXPECT_EQ(r.calls, 3);
  ezjcomTestSetServerSideEvents(1);

  // Disconnected and released: both global references go with the sink.
  unadvise(listener, cookie);
  EXPECT_EQ(take_exception(e), "");
  EXPECT_EQ(event_id(listener), 0);
  for (jobject o : {listener, boxed, static_cast<jobject>(listenerClass),
                    static_cast<jobject>(integer), static_cast<jobject>(result)})
    e->DeleteLocalRef(o);
  EXPECT_EQ(global_ref_count_settling_at(refs_at_start), refs_at_start)
      << "both of the sink's references deleted";
}

TEST_P(Registration, RemoteEventAddRefusesOtherNames) {
  const long refs = global_ref_count();
  for (const char* name : {"puente/IScanMonturaEvents", "puente.iscanmonturaevents",
                           "IScanMonturaEvents", "puente.IScanMonturaEvents "}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(remote_add(name));
    EXPECT_EQ(take_exception(e), "");
  }
  EXPECT_TRUE(ezjcom_journal_of("__JComAdvise").empty());
  EXPECT_EQ(global_ref_count_settling_at(refs), refs) << "no sink made";
  EXPECT_FALSE(remote_add(nullptr));
  EXPECT_EQ(take_exception(e), "java.lang.NullPointerException: Argument 1 is null");
}

TEST_P(Registration, FailedAdviseLeavesNothingBehind) {
  const long refs = global_ref_count();
  ezjcomTestForceHresult("__JComAdvise", CONNECT_E_CANNOTCONNECT, 1);
  EXPECT_FALSE(remote_add("puente.IScanMonturaEvents"));
  EXPECT_NE(take_exception(e).find("0x80040202"), std::string::npos);
  EXPECT_EQ(global_ref_count_settling_at(refs), refs);
}

// A JNI step that fails after the component was advised: the connection is
// ended before null is returned, so no event reaches server-side delivery
// afterwards and nothing of the sink is left.
TEST_P(Registration, RemoteEventAddFailingAfterTheAdviseDisconnects) {
  static int failures = 0;  // how many of the next calls fail
  auto failingArray = [](JNIEnv* env, jsize n, jclass c, jobject init) -> jobjectArray {
    if (failures > 0) {
      --failures;
      JniOverride::out_of_memory(env);
      return nullptr;
    }
    return JniOverride::original().NewObjectArray(env, n, c, init);
  };
  auto failingObject = [](JNIEnv* env, jclass c, jmethodID m, va_list args) -> jobject {
    if (failures > 0) {
      --failures;
      JniOverride::out_of_memory(env);
      return nullptr;
    }
    return JniOverride::original().NewObjectV(env, c, m, args);
  };
  const long refs = global_ref_count();
  for (const char* step : {"NewObjectArray", "NewObject"}) {
    SCOPED_TRACE(step);
    jobject result;
    {
      JniOverride jni(e);
      if (std::string(step) == "NewObjectArray")
        jni.table().NewObjectArray = failingArray;
      else
        jni.table().NewObjectV = failingObject;
      failures = 1;
      result = remote_add("puente.IScanMonturaEvents");
    }
    EXPECT_EQ(take_exception(e), "java.lang.OutOfMemoryError: forced by the test");
    EXPECT_FALSE(result);
    ULONG connections = 9;
    sim->ConnectionCount(&connections);
    EXPECT_EQ(connections, 0u) << "nothing left connected";
    EzjcomServerSideRecord before{}, after{};
    ezjcomTestLastServerSide(&before);
    ASSERT_EQ(sim->Click(), S_OK);
    ezjcomTestLastServerSide(&after);
    EXPECT_EQ(after.calls, before.calls) << "no event reaches server-side delivery";
    EXPECT_EQ(global_ref_count_settling_at(refs), refs) << "the sink and its references are gone";
  }
}

TEST_P(Registration, DirectListenersThroughTheComponent) {
  Global listener = new_object("jtztest/FullListener");
  Global second = new_object("jtztest/FullListener");
  ASSERT_TRUE(listen(listener));
  ASSERT_TRUE(listen(second));
  EXPECT_NE(event_id(listener), event_id(second));
  const jint cookie = advise(listener);
  const jint cookie2 = advise(second);
  ASSERT_NE(cookie, 0) << take_exception(e);
  EXPECT_NE(cookie, cookie2);

  sim->Click();
  // Typing: the listener turns 'a' into 'b' and swallows 'x'.
  jclass c = e->GetObjectClass(listener);
  e->SetIntField(listener, e->GetFieldID(c, "replaceKey", "I"), 'b');
  e->DeleteLocalRef(c);
  const jchar typed[] = {'a', 0};
  sim->TypeText(reinterpret_cast<LPCOLESTR>(typed));
  Global dispatch = bind_dispatch(component);
  jclass dc = e->GetObjectClass(dispatch);
  auto text = static_cast<jstring>(
      e->CallObjectMethod(dispatch, e->GetMethodID(dc, "getText", "()Ljava/lang/String;")));
  EXPECT_EQ(take_exception(e), "");
  EXPECT_EQ(str(text), "b");
  e->DeleteLocalRef(text);
  e->DeleteLocalRef(dc);
  ASSERT_EQ(sim->WaitIdle(5000), S_OK);
  const auto calls = recorded(listener);
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0], "OnClick");
  EXPECT_EQ(calls[1], "OnKeyPress 1:97");
  EXPECT_EQ(calls[2], "OnChange");

  unadvise(listener, cookie);
  unadvise(second, cookie2);
  EXPECT_EQ(take_exception(e), "");
  ULONG connections = 9;
  sim->ConnectionCount(&connections);
  EXPECT_EQ(connections, 0u);
  EXPECT_EQ(event_id(listener), 0);
  EXPECT_EQ(global_ref_count_settling_at(refs_at_start + 3), refs_at_start + 3)
      << "the test's own references only";
}

// Typing keys beyond one byte: the listener upper-cases ASCII letters, and
// nothing it did not see is changed.
TEST_P(Registration, TypedKeysAreNeverTruncated) {
  Global listener = new_object("jtztest/FullListener");
  jclass c = e->GetObjectClass(listener);
  e->SetBooleanField(listener, e->GetFieldID(c, "upperCaseAscii", "Z"), JNI_TRUE);
  e->DeleteLocalRef(c);
  ASSERT_TRUE(listen(listener));
  const jint cookie = advise(listener);
  ASSERT_EQ(take_exception(e), "");
  const jchar typed[] = {0x161, 'x', 0xE9, 0x141, 0};  // "šxéŁ"
  ASSERT_EQ(sim->TypeText(reinterpret_cast<LPCOLESTR>(typed)), S_OK);

  Global dispatch = bind_dispatch(component);
  jclass dc = e->GetObjectClass(dispatch);
  auto text = static_cast<jstring>(
      e->CallObjectMethod(dispatch, e->GetMethodID(dc, "getText", "()Ljava/lang/String;")));
  ASSERT_EQ(take_exception(e), "");
  const jchar expected[] = {0x161, 'X', 0xE9, 0x141};
  ASSERT_EQ(e->GetStringLength(text), 4);
  jchar got[4];
  e->GetStringRegion(text, 0, 4, got);
  EXPECT_EQ(0, std::memcmp(got, expected, sizeof got));
  e->DeleteLocalRef(text);
  e->DeleteLocalRef(dc);
  ASSERT_EQ(sim->WaitIdle(5000), S_OK);
  std::vector<std::string> keys;
  for (const std::string& line : recorded(listener))
    if (line.rfind("OnKeyPress", 0) == 0) keys.push_back(line);
  EXPECT_EQ(keys, (std::vector<std::string>{"OnKeyPress null", "OnKeyPress 1:120",
                                            "OnKeyPress 1:-23", "OnKeyPress null"}));
  unadvise(listener, cookie);
  EXPECT_EQ(take_exception(e), "");

  // Server-side delivery hands on the same: no array for a key beyond a byte.
  auto registration = static_cast<jobjectArray>(remote_add("puente.IScanMonturaEvents"));
  ASSERT_TRUE(registration) << take_exception(e);
  SHORT key = 0x161;
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_BYREF | VT_I2;
  arg.piVal = &key;
  ASSERT_EQ(sim->FireEvent(9, &arg, 1), S_OK);
  EzjcomServerSideRecord r{};
  ezjcomTestLastServerSide(&r);
  EXPECT_STREQ(r.eventName, "OnKeyPress");
  EXPECT_EQ(r.argValue[0], nullptr);
  EXPECT_EQ(key, 0x161);
  jobject holder = e->GetObjectArrayElement(registration, 0);
  jobject boxed = e->GetObjectArrayElement(registration, 1);
  jclass integer = e->GetObjectClass(boxed);
  const jint serverCookie = e->CallIntMethod(boxed, e->GetMethodID(integer, "intValue", "()I"));
  ASSERT_EQ(take_exception(e), "");
  unadvise(holder, serverCookie);
  EXPECT_EQ(take_exception(e), "");
  for (jobject o :
       {holder, boxed, static_cast<jobject>(integer), static_cast<jobject>(registration)})
    e->DeleteLocalRef(o);
}

// A listener holding a copy of another's eventId, and two threads disconnecting
// one listener: the sink's creation reference is given up once, and nothing
// is released twice, whatever order things come in.
TEST_P(Registration, CopiedEventIdAndRacingDisconnectsGiveTheSinkUpOnce) {
  const long refs = global_ref_count();
  jclass lc = e->FindClass("puente/IScanMonturaEvents");
  jmethodID connect = e->GetMethodID(lc, "connect", "(Lpuente/ScanMontura;)I");
  jmethodID disconnect = e->GetMethodID(lc, "disconnect", "()V");
  jmethodID listenMethod = e->GetMethodID(lc, "listen", "()V");
  jfieldID eventId = e->GetFieldID(lc, "eventId", "I");
  e->DeleteLocalRef(lc);
  auto call = [&](jobject o, jmethodID m) {
    e->CallVoidMethod(o, m);
    return take_exception(e);
  };
  for (bool connected : {true, false}) {
    SCOPED_TRACE(connected ? "connected" : "listening only");
    Global a = new_object("jtztest/FullListener");
    Global b = new_object("jtztest/FullListener");
    if (connected) {
      e->CallIntMethod(a, connect, component.get());
      ASSERT_EQ(take_exception(e), "");
    } else {
      ASSERT_EQ(call(a, listenMethod), "");
    }
    e->SetIntField(b, eventId, e->GetIntField(a, eventId));
    if (connected) {
      EXPECT_EQ(call(b, disconnect),
                "java.lang.IllegalStateException: The event sink belongs to another listener");
    }
    EXPECT_EQ(call(a, disconnect), "");
    EXPECT_EQ(call(b, disconnect), "") << "the copy of a sink already gone gives up nothing";
    EXPECT_EQ(e->GetIntField(a, eventId), 0);
    EXPECT_EQ(e->GetIntField(b, eventId), 0);
  }
  ULONG connections = 9;
  sim->ConnectionCount(&connections);
  EXPECT_EQ(connections, 0u);
  EXPECT_EQ(global_ref_count_settling_at(refs), refs) << "each sink's references deleted once";

  // Two threads, one listener: __JComUnadvise as any subclass of ScanMontura may call it.
  jclass objectClass = e->FindClass("ezjcom/JComObject");
  jmethodID unadviseMethod =
      e->GetMethodID(objectClass, "__JComUnadvise", "(Lezjcom/JComEventListener;I)V");
  e->DeleteLocalRef(objectClass);
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    Global l = new_object("jtztest/FullListener");
    ASSERT_TRUE(listen(l));
    const jint cookie = round % 2 ? advise(l) : 0;
    ASSERT_EQ(take_exception(e), "");
    std::atomic<int> ready{0};
    std::string outcome[2];
    auto race = [&](int i) {
      JNIEnv* t = env();
      ++ready;
      while (ready.load() < 2) {
      }
      t->CallVoidMethod(component.get(), unadviseMethod, l.get(), cookie);
      outcome[i] = take_exception(t);
      vm()->DetachCurrentThread();
    };
    std::thread x(race, 0), y(race, 1);
    x.join();
    y.join();
    EXPECT_TRUE(outcome[0].empty() != outcome[1].empty()) << outcome[0] << " / " << outcome[1];
    EXPECT_EQ(event_id(l), 0);
  }
  ASSERT_EQ(sim->WaitIdle(5000), S_OK);
  EXPECT_EQ(global_ref_count_settling_at(refs), refs);
}

// Components opened and closed on several threads at once, each with a
// listener connected while it fires, as a long-running program does; the
// wrappers give their references back with close().
TEST_P(Registration, OpenCloseCyclesOnSeveralThreads) {
  const long refs = global_ref_count();
  auto cycles = [](int count) {
    JNIEnv* t = env();
    jclass lc = t->FindClass("jtztest/CountingListener");
    jmethodID connect = t->GetMethodID(lc, "connectTo", "(Lpuente/ScanMontura;)I");
    jmethodID changes = t->GetMethodID(lc, "changes", "()J");
    jmethodID disconnect = t->GetMethodID(lc, "disconnect", "()V");
    t->DeleteLocalRef(lc);
    for (int i = 0; i < count; ++i) {
      Global component = new_component();
      Global dispatch = bind_dispatch(component);
      Ref<ISimControl> sim = sim_control(component);
      Global listener = new_object("jtztest/CountingListener");
      t->CallIntMethod(listener, connect, component.get());
      ASSERT_EQ(take_exception(t), "");
      jclass dc = t->GetObjectClass(dispatch);
      jstring text = t->NewStringUTF("cycle");
      t->CallVoidMethod(dispatch, t->GetMethodID(dc, "setText", "(Ljava/lang/String;)V"), text);
      ASSERT_EQ(take_exception(t), "");
      t->DeleteLocalRef(text);
      t->DeleteLocalRef(dc);
      ASSERT_EQ(sim->WaitIdle(5000), S_OK);
      EXPECT_EQ(t->CallLongMethod(listener, changes), 1);
      ASSERT_EQ(take_exception(t), "");
      t->CallVoidMethod(listener, disconnect);
      ASSERT_EQ(take_exception(t), "");
      sim = Ref<ISimControl>();
      for (jobject w : {dispatch.get(), component.get()}) {
        jclass wc = t->GetObjectClass(w);
        t->CallVoidMethod(w, t->GetMethodID(wc, "close", "()V"));
        ASSERT_EQ(take_exception(t), "");
        t->DeleteLocalRef(wc);
        EXPECT_EQ(com_object(w), nullptr);
      }
    }
  };
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k)
    threads.emplace_back([&] {
      cycles(25);
      vm()->DetachCurrentThread();
    });
  for (std::thread& k : threads) k.join();
  EXPECT_EQ(global_ref_count_settling_at(refs), refs) << "every sink gone with its references";
}

// A listener that calls the component back from inside OnChange (reads the
// text, puts another), the first put made by a thread in no apartment or by
// one in a single-threaded apartment, whose calls the runtime makes on its own
// thread while it waits: both events arrive, in order, and nothing waits for
// itself. Fired in the call, they arrive on the caller's own thread, or on
// the runtime's for the single-threaded caller, the nested one on the same
// thread; queued, on the component's thread.
TEST_P(Registration, ListenerCallingBackFromInsideTheEvent) {
  struct Caller {
    const char* name;  // its Java thread's name
    bool singleThreaded;
  };
  for (const Caller& caller :
       {Caller{"caller in no apartment", false}, Caller{"single-threaded caller", true}}) {
    SCOPED_TRACE(caller.name);
    Global listener = new_object("jtztest/ReentrantListener");
    Global dispatch = bind_dispatch(component);
    jclass lc = e->GetObjectClass(listener);
    e->SetObjectField(listener, e->GetFieldID(lc, "component", "Lpuente/IScanMontura;"), dispatch);
    jstring reply = e->NewStringUTF("inner");
    e->SetObjectField(listener, e->GetFieldID(lc, "reply", "Ljava/lang/String;"), reply);
    e->DeleteLocalRef(reply);
    e->DeleteLocalRef(lc);
    ASSERT_TRUE(listen(listener));
    const jint cookie = advise(listener);
    ASSERT_EQ(take_exception(e), "");

    std::string outcome = "not run";
    std::thread put([&] {
      if (caller.singleThreaded) {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
      }
      JNIEnv* t = nullptr;
      JavaVMAttachArgs args{JNI_VERSION_1_8, const_cast<char*>(caller.name), nullptr};
      if (vm()->AttachCurrentThread(reinterpret_cast<void**>(&t), &args) == JNI_OK) {
        jclass dc = t->GetObjectClass(dispatch);
        jstring text = t->NewStringUTF("outer");
        t->CallVoidMethod(dispatch, t->GetMethodID(dc, "setText", "(Ljava/lang/String;)V"), text);
        outcome = take_exception(t);
        t->DeleteLocalRef(text);
        t->DeleteLocalRef(dc);
        vm()->DetachCurrentThread();
      }
      if (caller.singleThreaded) CoUninitialize();
    });
    put.join();
    EXPECT_EQ(outcome, "");
    ASSERT_EQ(sim->WaitIdle(5000), S_OK);

    const auto lines = recorded(listener);
    ASSERT_EQ(lines.size(), 2u) << "one event per put, neither lost nor repeated";
    const std::string outer = "outer on ", inner = "inner on ";
    ASSERT_EQ(lines[0].rfind(outer, 0), 0u) << lines[0];
    ASSERT_EQ(lines[1].rfind(inner, 0), 0u) << lines[1];
    const std::string first = lines[0].substr(outer.size());
    EXPECT_EQ(lines[1].substr(inner.size()), first) << "the nested event on the same thread";
    if (in_call() && !caller.singleThreaded) {
      EXPECT_EQ(first, caller.name);
    } else {
      EXPECT_NE(first, caller.name);
      EXPECT_EQ(first.rfind("COM event thread ", 0), 0u) << first;
    }
    unadvise(listener, cookie);
    EXPECT_EQ(take_exception(e), "");
  }
}

// The component's own description of its event interface against the bridge's
// delivery: every event it describes reaches the listener method of that name
// with its argument, and no DISPID it does not describe reaches the listener.
TEST_P(Registration, EventsTheComponentDescribesAreTheOnesDelivered) {
  Global listener = new_object("jtztest/FullListener");
  ASSERT_TRUE(listen(listener));
  const jint cookie = advise(listener);
  ASSERT_NE(cookie, 0) << take_exception(e);
  jclass recorder_class = e->FindClass("jtztest/Recorder");
  jclass listener_class = e->GetObjectClass(listener);
  jobject calls =
      e->GetObjectField(listener, e->GetFieldID(listener_class, "calls", "Ljtztest/Recorder;"));
  const jmethodID clear = e->GetMethodID(recorder_class, "clear", "()V");

  std::vector<std::string> differences;
  const scanmontura::Interface& events = scanmontura::kIScanMonturaEvents;
  for (size_t i = 0; i < events.count; ++i) {
    const scanmontura::Function& f = events.functions[i];
    e->CallVoidMethod(calls, clear);
    ASSERT_EQ(take_exception(e), "");
    // Arguments as described: the key of OnKeyPress as a SHORT by reference.
    SHORT key = 'k';
    VARIANT args[1];
    ASSERT_LE(f.paramCount, 1u) << f.name;
    for (unsigned k = 0; k < f.paramCount; ++k) {
      ASSERT_EQ(f.params[k].type.vt, VT_BYREF | VT_I2) << f.name;
      args[k].vt = f.params[k].type.vt;
      args[k].piVal = &key;
    }
    ASSERT_EQ(sim->FireEvent(f.dispid, args, f.paramCount), S_OK);
    const std::string expected =
        std::string(f.name) + (f.paramCount ? " 1:" + std::to_string('k') : "");
    const auto got = recorded(listener);
    if (got != std::vector<std::string>{expected}) {
      std::string line = "event " + std::string(f.name) + " (id " + std::to_string(f.dispid) +
                         ") reached the listener as [";
      for (const std::string& g : got) line += " " + g;
      differences.push_back(line + " ], expected " + expected);
    }
  }
  for (DISPID id = -1000; id <= 1000; ++id) {
    bool described = false;
    for (size_t i = 0; i < events.count; ++i)
      described = described || events.functions[i].dispid == id;
    if (described) continue;
    e->CallVoidMethod(calls, clear);
    ASSERT_EQ(take_exception(e), "");
    ASSERT_EQ(sim->FireEvent(id, nullptr, 0), S_OK);
    const auto got = recorded(listener);
    if (!got.empty())
      differences.push_back("id " + std::to_string(id) +
                            ", which the component does not describe, reached the listener as " +
                            got.front());
  }
  std::string all;
  for (const std::string& d : differences) all += "\n  " + d;
  EXPECT_TRUE(differences.empty()) << all;

  unadvise(listener, cookie);
  EXPECT_EQ(take_exception(e), "");
  for (jobject o :
       {calls, static_cast<jobject>(listener_class), static_cast<jobject>(recorder_class)})
    e->DeleteLocalRef(o);
}

TEST_F(Events, SecondListenMakesAnotherSink) {
  Global listener = new_object("jtztest/FullListener");
  IDispatch* first = listen(listener);
  IDispatch* second = listen(listener);
  EXPECT_NE(first, second);
  EXPECT_EQ(second->Release(), 0u);
  EXPECT_EQ(first->Release(), 0u);
}

// Component threads fire while Java threads connect and disconnect listeners:
// every event fired to a connected listener arrives exactly once.
TEST_P(Registration, SoakExactlyOnceDelivery) {
  if (in_call()) GTEST_SKIP() << "FireBurst fires from threads of its own in either mode";
  const char* scale = std::getenv("JTZ_SOAK_EVENTS");
  const UINT total = scale ? static_cast<UINT>(std::atol(scale)) : 1000000u;
  const UINT perThread = total / 4;
  const long refs = global_ref_count();

  jclass churnClass = e->FindClass("jtztest/Churn");
  jmethodID ctor = e->GetMethodID(churnClass, "<init>", "(Lpuente/ScanMontura;I)V");
  Global churn(e->NewObject(churnClass, ctor, component.get(), 2));
  ASSERT_EQ(take_exception(e), "");
  Global a = new_object("jtztest/CountingListener");
  Global b = new_object("jtztest/CountingListener");
  jclass lc = e->FindClass("jtztest/CountingListener");
  jmethodID connect = e->GetMethodID(lc, "connectTo", "(Lpuente/ScanMontura;)I");
  jmethodID count = e->GetMethodID(lc, "changes", "()J");
  jmethodID disconnect = e->GetMethodID(lc, "disconnect", "()V");
  const jint ca = e->CallIntMethod(a, connect, component.get());
  ASSERT_EQ(take_exception(e), "");
  const jint cb = e->CallIntMethod(b, connect, component.get());
  ASSERT_EQ(take_exception(e), "");

  e->CallVoidMethod(churn, e->GetMethodID(churnClass, "start", "()V"));
  ASSERT_EQ(take_exception(e), "");
  ULONG delivered = 0;
  ASSERT_EQ(sim->FireBurst(1, 4, perThread, &delivered), S_OK);
  auto pairs = static_cast<jlongArray>(
      e->CallObjectMethod(churn, e->GetMethodID(churnClass, "stop", "()[J")));
  ASSERT_EQ(take_exception(e), "");

  ULONG toA = 0, toB = 0;
  sim->DeliveredTo(static_cast<DWORD>(ca), &toA);
  sim->DeliveredTo(static_cast<DWORD>(cb), &toB);
  EXPECT_EQ(toA, perThread * 4);
  EXPECT_EQ(toB, perThread * 4);
  EXPECT_EQ(e->CallLongMethod(a, count), static_cast<jlong>(toA));
  ASSERT_EQ(take_exception(e), "");
  EXPECT_EQ(e->CallLongMethod(b, count), static_cast<jlong>(toB));
  ASSERT_EQ(take_exception(e), "");

  // Each churned listener: (cookie, events received) pairs.
  const jsize n = e->GetArrayLength(pairs);
  std::vector<jlong> v(static_cast<size_t>(n));
  e->GetLongArrayRegion(pairs, 0, n, v.data());
  ULONG churned = 0;
  for (jsize i = 0; i + 1 < n; i += 2) {
    ULONG expected = 0;
    sim->DeliveredTo(static_cast<DWORD>(v[i]), &expected);
    EXPECT_EQ(v[i + 1], static_cast<jlong>(expected)) << "cookie " << v[i];
    churned += expected;
  }
  EXPECT_GT(n, 0) << "listeners came and went during the burst";
  EXPECT_EQ(delivered, toA + toB + churned);

  e->CallVoidMethod(a, disconnect);
  ASSERT_EQ(take_exception(e), "");
  e->CallVoidMethod(b, disconnect);
  ASSERT_EQ(take_exception(e), "");
  e->DeleteLocalRef(pairs);
  e->DeleteLocalRef(lc);
  e->DeleteLocalRef(churnClass);
  a = Global();
  b = Global();
  churn = Global();
  EXPECT_EQ(global_ref_count_settling_at(refs), refs) << "every sink gone with its references";
}

INSTANTIATE_TEST_SUITE_P(Firing, Registration, ::testing::Values(Firing::kQueued, Firing::kInCall),
                         FiringName);

}  // namespace
