// The member natives, called through the JVM on a wrapper bound to the
// simulated component, checked against what the component received.
#include <gtest/gtest.h>

#include <ezjcom/testing.h>

#include <cstring>
#include <string>
#include <vector>

#include "fixture.h"
#include "jni_override.h"
#include "jvm.h"
#include "member_kinds.h"

using namespace jtz::test;

namespace {

// ---- The member table, as the tests see it ----
struct Row {
  const char* name;
  std::string sig;
  DISPID dispid;
  WORD flags;
  std::vector<const char*> args;  // kinds, in Java order
  const char* result;             // kind
};

VARTYPE sent_vt(const std::string& kind) {
  if (kind == "Bool") return VT_BOOL;
  if (kind == "Byte") return VT_UI1;
  if (kind == "Short") return VT_I2;
  if (kind == "MachineInt") return VT_INT;
  if (kind == "String") return VT_BSTR;
  return VT_I4;  // int, colour, enumerations
}

std::vector<Row> rows() {
  std::vector<Row> out;
  auto sig = [](std::vector<const char*> args, const char* result) {
    std::string s = "(";
    for (const char* a : args) s += jtz::test::jni_type(a);
    return s + ")" + jtz::test::jni_type(result);
  };
#define GETTER(N, D, K) out.push_back({"get" #N, sig({}, #K), D, DISPATCH_PROPERTYGET, {}, #K});
#define SETTER(N, D, K) \
  out.push_back({"set" #N, sig({#K}, "None"), D, DISPATCH_PROPERTYPUT, {#K}, "None"});
#define PROPERTY(N, D, K) GETTER(N, D, K) SETTER(N, D, K)
#define METHOD(N, D, R) out.push_back({#N, sig({}, #R), D, DISPATCH_METHOD, {}, #R});
#define METHOD1(N, D, R, A) out.push_back({#N, sig({#A}, #R), D, DISPATCH_METHOD, {#A}, #R});
#define METHOD2(N, D, R, A, B) \
  out.push_back({#N, sig({#A, #B}, #R), D, DISPATCH_METHOD, {#A, #B}, #R});
#include "members.def"
  return out;
}

class Members : public ::testing::Test {
 protected:
  void SetUp() override {
    e = env();
    component = new_component();
    dispatch = bind_dispatch(component);
    sim = sim_control(dispatch);
    ASSERT_TRUE(sim.get());
    ezjcomTestReset();
    bstrs_at_start = jtzcom_live_bstrs();
  }
  void TearDown() override {
    EXPECT_EQ(take_exception(e), "") << "no exception left pending by the test";
    if (sim.get()) {
      EXPECT_EQ(sim->WaitIdle(5000), S_OK);
    }
    EXPECT_EQ(jtzcom_live_bstrs(), bstrs_at_start) << "every BSTR released";
  }

  jmethodID method(const char* name, const char* sig) {
    // Every call into Java is followed by a look at its exception before the next one.
    EXPECT_FALSE(e->ExceptionCheck()) << "an exception is pending before " << name;
    jclass c = e->GetObjectClass(dispatch);
    jmethodID m = e->GetMethodID(c, name, sig);
    e->DeleteLocalRef(c);
    EXPECT_TRUE(m) << name << sig;
    return m;
  }

  // A default Java argument of a kind.
  jvalue arg_of(const std::string& kind) {
    jvalue v{};
    if (kind == "String") {
      v.l = e->NewStringUTF("abc");
    } else if (kind == "Color") {
      v.l = color(1, 2, 3);
    } else if (kind.rfind("Tx", 0) == 0) {
      v.l = enum_of(kind.c_str(), 1);
    } else if (kind == "Short" || kind == "Int" || kind == "MachineInt") {
      v.i = 1;  // also a valid port, speed, mode and eye
      v.s = 1;
    }
    return v;
  }

  jobject color(int r, int g, int b, int a = 255) {
    jclass c = e->FindClass("java/awt/Color");
    jobject o = e->NewObject(c, e->GetMethodID(c, "<init>", "(IIII)V"), r, g, b, a);
    EXPECT_EQ(take_exception(e), "");
    e->DeleteLocalRef(c);
    return o;
  }

  jobject enum_of(const char* name, int value) {
    std::string cls = std::string("puente/") + name;
    jclass c = e->FindClass(cls.c_str());
    std::string sig = "(I)L" + cls + ";";
    jobject o =
        e->CallStaticObjectMethod(c, e->GetStaticMethodID(c, "fromValue", sig.c_str()), value);
    EXPECT_EQ(take_exception(e), "");
    e->DeleteLocalRef(c);
    return o;
  }

  int enum_value(jobject o) {
    EXPECT_EQ(take_exception(e), "");
    jclass c = e->GetObjectClass(o);
    int v = e->CallIntMethod(o, e->GetMethodID(c, "value", "()I"));
    EXPECT_EQ(take_exception(e), "");
    e->DeleteLocalRef(c);
    return v;
  }

  // Calls a native by its row with default arguments; clears what it raised.
  std::string call_row(jobject target, const Row& row) {
    jmethodID m = method(row.name, row.sig.c_str());
    jvalue args[2] = {};
    for (size_t i = 0; i < row.args.size(); ++i) args[i] = arg_of(row.args[i]);
    std::string r = row.result;
    std::string out;
    if (r == "None")
      e->CallVoidMethodA(target, m, args);
    else if (r == "Bool")
      out = std::to_string(e->CallBooleanMethodA(target, m, args));
    else if (r == "Byte")
      out = std::to_string(e->CallByteMethodA(target, m, args));
    else if (r == "Short")
      out = std::to_string(e->CallShortMethodA(target, m, args));
    else if (r == "Int")
      out = std::to_string(e->CallIntMethodA(target, m, args));
    else if (r == "Float")
      out = std::to_string(e->CallFloatMethodA(target, m, args));
    else {
      jobject o = e->CallObjectMethodA(target, m, args);
      out = o ? "object" : "null";
      if (o) e->DeleteLocalRef(o);
    }
    e->ExceptionCheck();  // what the native raised is the caller's to take
    for (size_t i = 0; i < row.args.size(); ++i)
      if (std::string(row.args[i]) == "String" || std::string(row.args[i]) == "Color" ||
          std::string(row.args[i]).rfind("Tx", 0) == 0)
        e->DeleteLocalRef(args[i].l);
    return out;
  }

  SimCallRecord last() {
    SimCallRecord r{};
    sim->GetLastCall(&r);
    return r;
  }

  void put_result(DISPID dispid, const VARIANT& v, HRESULT hr = S_OK) {
    ASSERT_EQ(sim->OverrideResult(dispid, &v, hr), S_OK);
  }

  JNIEnv* e = nullptr;
  Global component, dispatch;
  Ref<ISimControl> sim;
  long bstrs_at_start = 0;
};

TEST_F(Members, TableHas85NativesAndJavaDeclaresThemAll) {
  const auto all = rows();
  EXPECT_EQ(all.size(), 85u);
  int gets = 0, puts = 0, methods = 0;
  for (const Row& r : all) {
    gets += r.flags == DISPATCH_PROPERTYGET;
    puts += r.flags == DISPATCH_PROPERTYPUT;
    methods += r.flags == DISPATCH_METHOD;
    EXPECT_NE(r.dispid, 45);
    method(r.name, r.sig.c_str());  // the Java declaration has the row's signature
  }
  EXPECT_EQ(gets, 38);
  EXPECT_EQ(puts, 30);
  EXPECT_EQ(methods, 17);
  jclass helper = e->FindClass("jtztest/Natives");
  jclass wrapper = e->FindClass("puente/IScanMontura");
  EXPECT_EQ(e->CallStaticIntMethod(
                helper, e->GetStaticMethodID(helper, "countMemberNatives", "(Ljava/lang/Class;)I"),
                wrapper),
            85);
  e->DeleteLocalRef(helper);
  e->DeleteLocalRef(wrapper);
}

TEST_F(Members, EveryNativeSendsItsDispidShapeAndArgumentTypes) {
  for (const Row& row : rows()) {
    SCOPED_TRACE(row.name);
    const ULONG before = last().calls;
    call_row(dispatch, row);
    take_exception(e);  // the simulated device may refuse (no port open...)
    const SimCallRecord r = last();
    ASSERT_EQ(r.calls, before + 1) << "exactly one Invoke";
    EXPECT_EQ(r.dispid, row.dispid);
    EXPECT_EQ(r.flags, row.flags);
    EXPECT_EQ(r.cArgs, row.args.size());
    EXPECT_TRUE(r.resultGiven) << "a result VARIANT is always passed";
    EXPECT_EQ(r.resultVtOnEntry, VT_EMPTY);
    if (row.flags == DISPATCH_PROPERTYPUT) {
      ASSERT_EQ(r.cNamedArgs, 1u);
      EXPECT_EQ(r.named[0], DISPID_PROPERTYPUT);
    } else {
      EXPECT_EQ(r.cNamedArgs, 0u);
    }
    for (size_t i = 0; i < row.args.size(); ++i)  // rgvarg holds them last-first
      EXPECT_EQ(r.args[row.args.size() - 1 - i].vt, sent_vt(row.args[i])) << "argument " << i;
  }
  ASSERT_EQ(sim->WaitIdle(5000), S_OK);
}

TEST_F(Members, UnboundWrapperRaisesForEveryNative) {
  Global unbound = Global(e->AllocObject(e->FindClass("puente/IScanMontura")));
  const long strings = jtzcom_live_bstrs();
  for (const Row& row : rows()) {
    SCOPED_TRACE(row.name);
    const std::string result = call_row(unbound, row);
    EXPECT_EQ(take_exception(e), "java.lang.NullPointerException: Uninitialized JComObject");
    std::string r = row.result;
    if (r == "Float") {
      EXPECT_EQ(result, std::to_string(0.0f));
    } else if (r != "None") {
      EXPECT_TRUE(result == "0" || result == "null") << result;
    }
  }
  EXPECT_EQ(jtzcom_live_bstrs(), strings) << "an unbound string put allocates no BSTR";
  EXPECT_TRUE(ezjcom_journal_of("ezjcomInvokeHelper").empty());

  // Through Java reflection too: every declared native resolves and raises.
  jclass helper = e->FindClass("jtztest/Natives");
  auto lines = static_cast<jobjectArray>(e->CallStaticObjectMethod(
      helper, e->GetStaticMethodID(helper, "callAll", "(Ljava/lang/Object;)[Ljava/lang/String;"),
      unbound.get()));
  ASSERT_EQ(take_exception(e), "");
  ASSERT_EQ(e->GetArrayLength(lines), 85);
  for (jsize i = 0; i < 85; ++i) {
    auto s = static_cast<jstring>(e->GetObjectArrayElement(lines, i));
    EXPECT_NE(str(s).find("java.lang.NullPointerException: Uninitialized JComObject"),
              std::string::npos)
        << str(s);
    e->DeleteLocalRef(s);
  }
  e->DeleteLocalRef(lines);
  e->DeleteLocalRef(helper);

  // The unbound check comes before setColor's own null check.
  e->CallVoidMethod(unbound, method("setColor", "(Ljava/awt/Color;)V"), nullptr);
  EXPECT_EQ(take_exception(e), "java.lang.NullPointerException: Uninitialized JComObject");
}

TEST_F(Members, ArgumentEncodings) {
  auto sent = [&](const char* name, const char* sig, auto... values) {
    e->CallVoidMethod(dispatch, method(name, sig), values...);
    take_exception(e);
    return last();
  };
  EXPECT_EQ(sent("setAutoSelect", "(Z)V", jboolean(true)).args[0].boolVal, VARIANT_TRUE);
  EXPECT_EQ(static_cast<uint16_t>(sent("setAutoSelect", "(Z)V", jboolean(true)).args[0].boolVal),
            0xFFFF);
  EXPECT_EQ(sent("setAutoSelect", "(Z)V", jboolean(false)).args[0].boolVal, VARIANT_FALSE);
  EXPECT_EQ(sent("setPasswordChar", "(B)V", jbyte(-1)).args[0].bVal, 255);
  EXPECT_EQ(static_cast<uint16_t>(sent("setCursor", "(S)V", jshort(-1)).args[0].iVal), 0xFFFF);
  auto ojo = sent("setOjo", "(I)V", jint(2));
  EXPECT_EQ(ojo.args[0].vt, VT_INT);
  EXPECT_EQ(ojo.args[0].intVal, 2);
  auto max = sent("setMaxLength", "(I)V", jint(2));
  EXPECT_EQ(max.args[0].vt, VT_I4);
  EXPECT_EQ(max.args[0].lVal, 2);
  EXPECT_EQ(sent("setVelocidad", "(I)V", jint(-7)).args[0].intVal, -7);
  EXPECT_EQ(sent("setSelStart", "(I)V", jint(INT32_MIN)).args[0].lVal, INT32_MIN);

  jobject c = color(0x12, 0x34, 0x56, 7);
  auto col = sent("setColor", "(Ljava/awt/Color;)V", c);
  EXPECT_EQ(col.args[0].vt, VT_I4);
  EXPECT_EQ(col.args[0].lVal, 0x00563412) << "RGB packed as 0x00BBGGRR, alpha not sent";
  e->DeleteLocalRef(c);

  jobject style = enum_of("TxFormBorderStyle", 3);
  auto st = sent("setBorderStyle", "(Lpuente/TxFormBorderStyle;)V", style);
  EXPECT_EQ(st.args[0].vt, VT_I4);
  EXPECT_EQ(st.args[0].lVal, 3);
  e->DeleteLocalRef(style);

  // GetSelTextBuf(b, n): n in rgvarg[0], b in rgvarg[1].
  e->CallIntMethod(dispatch, method("GetSelTextBuf", "(BI)I"), jbyte(65), jint(10));
  auto buf = last();
  ASSERT_EQ(buf.cArgs, 2u);
  EXPECT_EQ(buf.args[0].vt, VT_I4);
  EXPECT_EQ(buf.args[0].lVal, 10);
  EXPECT_EQ(buf.args[1].vt, VT_UI1);
  EXPECT_EQ(buf.args[1].bVal, 65);
  auto sel = sent("SetSelTextBuf", "(B)V", jbyte(66));
  EXPECT_EQ(sel.args[0].vt, VT_UI1);
  EXPECT_EQ(sel.args[0].bVal, 66);
}

TEST_F(Members, ResultEncodings) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI1;
  v.bVal = 200;
  put_result(15, v);
  EXPECT_EQ(e->CallByteMethod(dispatch, method("getPasswordChar", "()B")), -56);
  v.vt = VT_I2;
  v.iVal = static_cast<SHORT>(0xFFFF);
  put_result(42, v);
  EXPECT_EQ(e->CallShortMethod(dispatch, method("getCursor", "()S")), -1);
  v.vt = VT_BOOL;
  v.boolVal = 1;  // any non-zero is true
  put_result(1, v);
  EXPECT_TRUE(e->CallBooleanMethod(dispatch, method("getAutoSelect", "()Z")));
  v.boolVal = 0;
  put_result(1, v);
  EXPECT_FALSE(e->CallBooleanMethod(dispatch, method("getAutoSelect", "()Z")));
  v.vt = VT_R4;
  v.fltVal = 1.1f;
  put_result(49, v, S_FALSE);  // S_FALSE is a success
  EXPECT_EQ(e->CallFloatMethod(dispatch, method("getRadioIni", "()F")), 1.1f);
  v.vt = VT_I4;
  v.lVal = -123456;
  put_result(57, v);
  EXPECT_EQ(e->CallIntMethod(dispatch, method("getStatus", "()I")), -123456);

  auto rgb = [&](jobject c) {
    EXPECT_EQ(take_exception(e), "");
    jclass cls = e->GetObjectClass(c);
    int value = e->CallIntMethod(c, e->GetMethodID(cls, "getRGB", "()I"));
    EXPECT_EQ(take_exception(e), "");
    e->DeleteLocalRef(cls);
    e->DeleteLocalRef(c);
    return static_cast<uint32_t>(value);
  };
  v.lVal = 0x00563412;
  put_result(DISPID_BACKCOLOR, v);
  EXPECT_EQ(rgb(e->CallObjectMethod(dispatch, method("getColor", "()Ljava/awt/Color;"))),
            0xFF123456u)
      << "opaque, red 0x12 green 0x34 blue 0x56";
  v.lVal = static_cast<LONG>(0x80000005);  // the system colour of a window's background
  put_result(DISPID_BACKCOLOR, v);
  EXPECT_EQ(rgb(e->CallObjectMethod(dispatch, method("getColor", "()Ljava/awt/Color;"))),
            0xFFFFFFFFu);
  // An index no system colour has: the COM failure, never an undefined colour.
  v.lVal = static_cast<LONG>(0x800000FF);
  put_result(DISPID_BACKCOLOR, v);
  EXPECT_FALSE(e->CallObjectMethod(dispatch, method("getColor", "()Ljava/awt/Color;")));
  EXPECT_NE(take_exception(e).find("0x80070057"), std::string::npos);

  v.lVal = 1;
  put_result(7, v);
  jobject mode = e->CallObjectMethod(dispatch, method("getDragMode", "()Lpuente/TxDragMode;"));
  ASSERT_TRUE(mode);
  EXPECT_EQ(enum_value(mode), 1);
  e->DeleteLocalRef(mode);
}

TEST_F(Members, RealControlRoundTrips) {
  // Text through BSTRs both ways, including characters outside the BMP.
  const jchar text[] = {'T', 0x00E9, 'x', 0xD83D, 0xDC53, 't'};
  jstring s = e->NewString(text, 6);
  e->CallVoidMethod(dispatch, method("setText", "(Ljava/lang/String;)V"), s);
  auto back = static_cast<jstring>(
      e->CallObjectMethod(dispatch, method("getText", "()Ljava/lang/String;")));
  ASSERT_EQ(take_exception(e), "");
  ASSERT_TRUE(back);
  ASSERT_EQ(e->GetStringLength(back), 6);
  jchar got[6];
  e->GetStringRegion(back, 0, 6, got);
  EXPECT_EQ(0, std::memcmp(got, text, sizeof text));
  e->DeleteLocalRef(back);
  e->DeleteLocalRef(s);

  jobject lower = enum_of("TxEditCharCase", 2);
  e->CallVoidMethod(dispatch, method("setCharCase", "(Lpuente/TxEditCharCase;)V"), lower);
  jobject cc = e->CallObjectMethod(dispatch, method("getCharCase", "()Lpuente/TxEditCharCase;"));
  EXPECT_EQ(enum_value(cc), 2);
  e->DeleteLocalRef(cc);
  e->DeleteLocalRef(lower);

  e->CallVoidMethod(dispatch, method("setMaxLength", "(I)V"), jint(40));
  EXPECT_EQ(e->CallIntMethod(dispatch, method("getMaxLength", "()I")), 40);
}

TEST_F(Members, FailedCallRaisesWithDescriptionAndReleasesStrings) {
  const jchar desc[] = {'T', 'r', 'a', 'c', 'e', 'r', ' ', 'b', 'u', 's', 'y', 0};
  ASSERT_EQ(sim->FailMember(DISPID_TEXT, E_FAIL, reinterpret_cast<LPCOLESTR>(desc)), S_OK);
  jstring s = e->NewStringUTF("lost");
  e->CallVoidMethod(dispatch, method("setText", "(Ljava/lang/String;)V"), s);
  EXPECT_EQ(take_exception(e), "ezjcom.JComException: COM error 0x80004005: Tracer busy");
  EXPECT_EQ(jtzcom_live_bstrs(), bstrs_at_start) << "argument and EXCEPINFO strings freed";
  EXPECT_FALSE(e->CallObjectMethod(dispatch, method("getText", "()Ljava/lang/String;")));
  EXPECT_NE(take_exception(e).find("Tracer busy"), std::string::npos);
  sim->FailMember(DISPID_TEXT, 0, nullptr);

  // Reported by the component's EXCEPINFO with DISP_E_EXCEPTION, or plain.
  ASSERT_EQ(sim->FailMember(51, DISP_E_EXCEPTION, reinterpret_cast<LPCOLESTR>(desc)), S_OK);
  EXPECT_EQ(e->CallFloatMethod(dispatch, method("getBoxH", "()F")), 0.0f);
  EXPECT_NE(take_exception(e).find("Tracer busy"), std::string::npos);
  sim->FailMember(51, 0, nullptr);
  e->DeleteLocalRef(s);
}

TEST_F(Members, FatalErrorReturnsZeroAndRaisesNothing) {
  jstring s = e->NewStringUTF("kept");
  ezjcomTestFatalAfter("ezjcomInvokeHelper", 1);
  e->CallVoidMethod(dispatch, method("setText", "(Ljava/lang/String;)V"), s);
  EXPECT_EQ(take_exception(e), "");
  EXPECT_EQ(jtzcom_live_bstrs(), bstrs_at_start);
  ezjcomTestFatalAfter("ezjcomInvokeHelper", 1);
  EXPECT_FALSE(e->CallObjectMethod(dispatch, method("getText", "()Ljava/lang/String;")));
  EXPECT_EQ(take_exception(e), "");
  EXPECT_TRUE(ezjcom_journal_of("ezjcomThrowComExceptionObject").empty());
  e->DeleteLocalRef(s);
}

TEST_F(Members, UnexpectedResultTypesAreCoercedOrRefused) {
  VARIANT v;
  VariantInit(&v);  // VT_EMPTY after a successful call
  put_result(51, v);
  EXPECT_EQ(e->CallFloatMethod(dispatch, method("getBoxH", "()F")), 0.0f);
  EXPECT_EQ(take_exception(e), "");

  // A number sent as text: converted, and the BSTR freed.
  const jchar digits[] = {'4', '2', 0};
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(reinterpret_cast<const OLECHAR*>(digits));
  put_result(57, v);
  VariantClear(&v);
  EXPECT_EQ(e->CallIntMethod(dispatch, method("getStatus", "()I")), 42);
  EXPECT_EQ(jtzcom_live_bstrs(), bstrs_at_start + 1) << "only the override's own copy";

  const jchar word[] = {'n', 'o', 0};
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(reinterpret_cast<const OLECHAR*>(word));
  put_result(57, v);
  VariantClear(&v);
  EXPECT_EQ(e->CallIntMethod(dispatch, method("getStatus", "()I")), 0);
  EXPECT_NE(take_exception(e).find("0x80020005"), std::string::npos);

  // A string is only ever taken from a BSTR: a number becomes its text.
  v.vt = VT_I4;
  v.lVal = 5;
  put_result(DISPID_TEXT, v);
  auto t = static_cast<jstring>(
      e->CallObjectMethod(dispatch, method("getText", "()Ljava/lang/String;")));
  EXPECT_EQ(str(t), "5");
  e->DeleteLocalRef(t);
  v.vt = VT_NULL;
  put_result(DISPID_TEXT, v);
  EXPECT_FALSE(e->CallObjectMethod(dispatch, method("getText", "()Ljava/lang/String;")));
  EXPECT_NE(take_exception(e).find("0x80020005"), std::string::npos);
  sim->OverrideResult(57, nullptr, S_OK);
  sim->OverrideResult(DISPID_TEXT, nullptr, S_OK);
  sim->OverrideResult(51, nullptr, S_OK);
}

// An object that counts its references and Invoke calls, as a result value.
struct CountingObject : IDispatch {
  LONG refs = 1;
  int invokes = 0;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  // Its default value, were anyone to ask: 7.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    ++invokes;
    if (result) {
      result->vt = VT_I4;
      result->lVal = 7;
    }
    return S_OK;
  }
};

// Results of the member's size with the other signedness are the same bits;
// a failed coercion reports its own HRESULT; an object is never asked for a value.
TEST_F(Members, ResultsOfTheOtherSignednessAndRefusedCoercions) {
  struct Case {
    const char* name;
    const char* sig;
    DISPID dispid;
    VARTYPE vt;
    LONG bits;
    const char* result;  // the Java value, or the HRESULT of the exception
  };
  const Case cases[] = {
      {"getCalibrado", "()S", 43, VT_UI2, 0xFFFF, "-1"},
      {"getCursor", "()S", 42, VT_UI2, 0x8000, "-32768"},
      {"getPasswordChar", "()B", 15, VT_I1, -56, "-56"},
      {"getPasswordChar", "()B", 15, VT_I1, 127, "127"},
      {"getCalibrado", "()S", 43, VT_I4, 70000, "0x8002000A"},  // DISP_E_OVERFLOW
      {"getPasswordChar", "()B", 15, VT_I2, -1, "0x8002000A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.vt) + " " + std::to_string(c.bits));
    VARIANT v;
    VariantInit(&v);
    v.vt = c.vt;
    v.lVal = 0;
    if (c.vt == VT_UI2) v.uiVal = static_cast<USHORT>(c.bits);
    if (c.vt == VT_I2) v.iVal = static_cast<SHORT>(c.bits);
    if (c.vt == VT_I1) v.cVal = static_cast<CHAR>(c.bits);
    if (c.vt == VT_I4) v.lVal = c.bits;
    put_result(c.dispid, v);
    const jmethodID m = method(c.name, c.sig);
    const int got =
        c.sig[2] == 'S' ? e->CallShortMethod(dispatch, m) : e->CallByteMethod(dispatch, m);
    const std::string thrown = take_exception(e);
    if (c.result[0] == '0') {
      EXPECT_EQ(got, 0);
      EXPECT_NE(thrown.find(c.result), std::string::npos) << thrown;
    } else {
      EXPECT_EQ(std::to_string(got), c.result);
      EXPECT_EQ(thrown, "");
    }
    sim->OverrideResult(c.dispid, nullptr, S_OK);
  }

  CountingObject object;
  VARIANT held;  // an object behind a reference: the coercion would follow it
  VariantInit(&held);
  held.vt = VT_DISPATCH;
  held.pdispVal = &object;
  VARIANT v;
  VariantInit(&v);
  for (VARTYPE vt : {VARTYPE{VT_DISPATCH}, VARTYPE{VT_UNKNOWN}, VARTYPE(VT_BYREF | VT_VARIANT)}) {
    v.vt = vt;
    if (vt & VT_BYREF)
      v.pvarVal = &held;
    else
      v.pdispVal = &object;
    put_result(57, v);
    EXPECT_EQ(e->CallIntMethod(dispatch, method("getStatus", "()I")), 0);
    EXPECT_NE(take_exception(e).find("0x80020005"), std::string::npos);
    put_result(DISPID_TEXT, v);
    EXPECT_FALSE(e->CallObjectMethod(dispatch, method("getText", "()Ljava/lang/String;")));
    EXPECT_NE(take_exception(e).find("0x80020005"), std::string::npos);
    sim->OverrideResult(57, nullptr, S_OK);
    sim->OverrideResult(DISPID_TEXT, nullptr, S_OK);
  }
  EXPECT_EQ(object.invokes, 0) << "no second call, for a default value";
  EXPECT_EQ(object.refs, 1) << "every reference the results brought given back";
}

TEST_F(Members, PendingExceptionFromArgumentStopsTheCall) {
  const ULONG before = last().calls;
  Global bad = new_object("jtztest/ThrowingColor");
  e->CallVoidMethod(dispatch, method("setColor", "(Ljava/awt/Color;)V"), bad.get());
  EXPECT_EQ(take_exception(e), "java.lang.IllegalStateException: no red today");
  e->CallVoidMethod(dispatch, method("setDragMode", "(Lpuente/TxDragMode;)V"), nullptr);
  EXPECT_EQ(take_exception(e).rfind("java.lang.NullPointerException", 0), 0u);
  EXPECT_EQ(last().calls, before) << "no call made";

  e->CallVoidMethod(dispatch, method("setColor", "(Ljava/awt/Color;)V"), nullptr);
  EXPECT_EQ(take_exception(e), "java.lang.NullPointerException: Argument 1 is null");
  EXPECT_EQ(last().calls, before);

  // A null string is the runtime's to convert: a null BSTR, which reads back as "".
  e->CallVoidMethod(dispatch, method("setText", "(Ljava/lang/String;)V"), nullptr);
  EXPECT_EQ(take_exception(e), "");
  auto t = static_cast<jstring>(
      e->CallObjectMethod(dispatch, method("getText", "()Ljava/lang/String;")));
  EXPECT_EQ(str(t), "");
  e->DeleteLocalRef(t);
}

// An argument that could not be converted stops the call before the component
// sees anything, with a Java exception: the control keeps what it had.
TEST_F(Members, FailedArgumentConversionStopsTheCall) {
  jstring precious = e->NewStringUTF("precious text");
  e->CallVoidMethod(dispatch, method("setText", "(Ljava/lang/String;)V"), precious);
  ASSERT_EQ(take_exception(e), "");
  e->DeleteLocalRef(precious);

  // A length no BSTR can hold: the runtime's conversion answers a null BSTR.
  static int lies = 0;
  auto huge_length = [](JNIEnv* env, jstring s) -> jsize {
    if (lies > 0) {
      --lies;
      return 0x7FFFFFFF;
    }
    return JniOverride::original().GetStringLength(env, s);
  };
  const struct {
    const char* what;
    const char* name;
    const char* sig;
    const char* fatalAfter;  // the runtime operation a fatal error follows, or null
    int lengthLies;
    const char* thrown;
  } cases[] = {
      {"no BSTR", "setText", "(Ljava/lang/String;)V", nullptr, 1, "0x8007000E"},
      {"fatal error after the string", "setText", "(Ljava/lang/String;)V", "ezjcomJstringToBstr", 0,
       "0x8007000E"},
      {"fatal error after the enumeration", "setDragMode", "(Lpuente/TxDragMode;)V",
       "ezjcomEnumeratedObjectToInt", 0, "0x80004005"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    jobject arg = std::string(c.sig).find("String") != std::string::npos
                      ? static_cast<jobject>(e->NewStringUTF("replacement"))
                      : enum_of("TxDragMode", 1);
    const jmethodID m = method(c.name, c.sig);
    const ULONG calls = last().calls;
    ezjcomTestReset();
    if (c.fatalAfter) ezjcomTestFatalAfter(c.fatalAfter, 1);
    {
      JniOverride jni(e);
      jni.table().GetStringLength = huge_length;
      lies = c.lengthLies;
      e->CallVoidMethod(dispatch, m, arg);
      e->ExceptionCheck();
    }
    const std::string thrown = take_exception(e);
    EXPECT_NE(thrown.find(c.thrown), std::string::npos) << thrown;
    EXPECT_EQ(last().calls, calls) << "nothing reached the component";
    EXPECT_TRUE(ezjcom_journal_of("ezjcomInvokeHelper").empty());
    e->DeleteLocalRef(arg);
  }
  auto text = static_cast<jstring>(
      e->CallObjectMethod(dispatch, method("getText", "()Ljava/lang/String;")));
  EXPECT_EQ(str(text), "precious text");
  e->DeleteLocalRef(text);
  jobject mode = e->CallObjectMethod(dispatch, method("getDragMode", "()Lpuente/TxDragMode;"));
  EXPECT_EQ(enum_value(mode), 0);
  e->DeleteLocalRef(mode);
}

TEST_F(Members, ReadOnlyControlRefusesEditsWithDescription) {
  e->CallVoidMethod(dispatch, method("setReadOnly", "(Z)V"), jboolean(true));
  ASSERT_EQ(take_exception(e), "");
  jstring s = e->NewStringUTF("edit");
  e->CallVoidMethod(dispatch, method("setText", "(Ljava/lang/String;)V"), s);
  EXPECT_NE(take_exception(e).find("read-only"), std::string::npos);
  e->CallVoidMethod(dispatch, method("setReadOnly", "(Z)V"), jboolean(false));
  EXPECT_EQ(take_exception(e), "");
  e->DeleteLocalRef(s);
}

}  // namespace
