// The event sink: COM identity and reference counting, delivery to Java
// listeners directly and through the runtime, and listener registration.
#include <gtest/gtest.h>

#include <ezjcom/testing.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "event_sink.h"
#include "fixture.h"
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
    EXPECT_FALSE(e->ExceptionCheck());
    e->DeleteLocalRef(c);
    EXPECT_TRUE(ok);
    return reinterpret_cast<IDispatch*>(
        static_cast<uintptr_t>(static_cast<uint32_t>(event_id(listener))));
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
  EXPECT_EQ(global_ref_count(), refs + 1) << "the sink holds its listener";
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
  EXPECT_EQ(global_ref_count(), refs) << "the listener's global reference deleted once";
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

class Registration : public Events {
 protected:
  void SetUp() override {
    Events::SetUp();
    component = new_component();
    sim = sim_control(component);
    ASSERT_TRUE(sim.get());
    ezjcomTestReset();
    refs_at_start = global_ref_count();  // the component's own reference counted in
  }
  void TearDown() override {
    if (sim.get()) sim->WaitIdle(5000);
  }

  jobject remote_add(const char* name) {
    jclass c = e->FindClass("puente/ScanMontura");
    jmethodID m = e->GetMethodID(c, "__RemoteEventAdd", "(Ljava/lang/String;)[Ljava/lang/Object;");
    e->DeleteLocalRef(c);
    jstring s = name ? e->NewStringUTF(name) : nullptr;
    jobject r = checked(e, e->CallObjectMethod(component, m, s));
    if (s) e->DeleteLocalRef(s);
    return r;
  }

  void unadvise(jobject listener, jint cookie) {
    jclass c = e->FindClass("ezjcom/JComObject");
    jmethodID m = e->GetMethodID(c, "__JComUnadvise", "(Lezjcom/JComEventListener;I)V");
    e->DeleteLocalRef(c);
    e->CallVoidMethod(component, m, listener, cookie);
    (void)e->ExceptionCheck();  // the caller takes what is pending
  }

  jint advise(jobject listener) {
    jclass c = e->FindClass("ezjcom/JComObject");
    jmethodID m = e->GetMethodID(c, "__JComAdvise", "(Lezjcom/JComEventListener;)I");
    e->DeleteLocalRef(c);
    const jint cookie = e->CallIntMethod(component, m, listener);
    (void)e->ExceptionCheck();  // the caller takes what is pending
    return cookie;
  }

  Global component;
  Ref<ISimControl> sim;
};

TEST_F(Registration, RemoteEventAddAndServerSideDelivery) {
  auto result = static_cast<jobjectArray>(remote_add("puente.IScanMonturaEvents"));
  ASSERT_TRUE(result) << take_exception(e);
  ASSERT_EQ(e->GetArrayLength(result), 2);
  jobject listener = e->GetObjectArrayElement(result, 0);
  jobject boxed = e->GetObjectArrayElement(result, 1);
  jclass listenerClass = e->FindClass("ezjcom/JComEventListener");
  EXPECT_TRUE(e->IsInstanceOf(listener, listenerClass));
  ASSERT_NE(event_id(listener), 0);
  jclass integer = e->FindClass("java/lang/Integer");
  const jint cookie =
      checked(e, e->CallIntMethod(boxed, e->GetMethodID(integer, "intValue", "()I")));
  EXPECT_EQ(ezjcom_journal_of("__JComAdvise"),
            std::vector<std::string>{"__JComAdvise " + std::to_string(cookie)});

  auto* sink = reinterpret_cast<IDispatch*>(
      static_cast<uintptr_t>(static_cast<uint32_t>(event_id(listener))));
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
  EXPECT_EQ(global_ref_count(), refs_at_start) << "both of the sink's references deleted";
}

TEST_F(Registration, RemoteEventAddRefusesOtherNames) {
  const long refs = global_ref_count();
  for (const char* name : {"puente/IScanMonturaEvents", "puente.iscanmonturaevents",
                           "IScanMonturaEvents", "puente.IScanMonturaEvents "}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(remote_add(name));
    EXPECT_EQ(take_exception(e), "");
  }
  EXPECT_TRUE(ezjcom_journal_of("__JComAdvise").empty());
  EXPECT_EQ(global_ref_count(), refs) << "no sink made";
  EXPECT_FALSE(remote_add(nullptr));
  EXPECT_EQ(take_exception(e), "java.lang.NullPointerException: Argument 1 is null");
}

TEST_F(Registration, FailedAdviseLeavesNothingBehind) {
  const long refs = global_ref_count();
  ezjcomTestForceHresult("__JComAdvise", CONNECT_E_CANNOTCONNECT, 1);
  EXPECT_FALSE(remote_add("puente.IScanMonturaEvents"));
  EXPECT_NE(take_exception(e).find("0x80040202"), std::string::npos);
  EXPECT_EQ(global_ref_count(), refs);
}

TEST_F(Registration, DirectListenersThroughTheComponent) {
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
  EXPECT_EQ(str(text), "b");
  e->DeleteLocalRef(text);
  e->DeleteLocalRef(dc);
  sim->WaitIdle(5000);
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
  EXPECT_EQ(global_ref_count(), refs_at_start + 3) << "the test's own references only";
}

// The component's own description of its event interface against the bridge's
// delivery: every event it describes reaches the listener method of that name
// with its argument, and no DISPID it does not describe reaches the listener.
TEST_F(Registration, EventsTheComponentDescribesAreTheOnesDelivered) {
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
TEST_F(Registration, SoakExactlyOnceDelivery) {
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
  const jint ca = checked(e, e->CallIntMethod(a, connect, component.get()));
  const jint cb = checked(e, e->CallIntMethod(b, connect, component.get()));
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
  EXPECT_EQ(checked(e, e->CallLongMethod(a, count)), static_cast<jlong>(toA));
  EXPECT_EQ(checked(e, e->CallLongMethod(b, count)), static_cast<jlong>(toB));

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
  EXPECT_EQ(global_ref_count(), refs) << "every sink gone with its references";
}

}  // namespace
