// Creating and finding objects through the platform's COM, querying
// interfaces, and the Invoke made for the bridge.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "failing_new.h"
#include "fakes.h"
#include "jvm.h"
#include "runtime_api.h"

namespace {

using rtest::FakeDispatch;

// Served by runtime_test_server in the tests' own class registry.
const CLSID kServed = {
    0x7C3D0001, 0x4B2A, 0x4E19, {0x9F, 0x10, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x01}};
// The same class, for the remote creations (which stay registered as running).
const CLSID kServedRemotely = {
    0x7C3D0003, 0x4B2A, 0x4E19, {0x9F, 0x10, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x03}};
// Registered nowhere.
const CLSID kUnknown = {
    0x7C3D00FF, 0x4B2A, 0x4E19, {0x9F, 0x10, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0xFF}};
// Only ever registered as running by the tests.
const CLSID kRunningOnly = {
    0x7C3D0002, 0x4B2A, 0x4E19, {0x9F, 0x10, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x02}};

const jchar kLocalhost[] = {'l', 'o', 'c', 'a', 'l', 'h', 'o', 's', 't', 0};

// Invoke(id) of a served object: 1 its reference count, 2 the objects alive.
LONG ask(IDispatch* d, DISPID id) {
  DISPPARAMS none{};
  VARIANT r;
  VariantInit(&r);
  if (FAILED(d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr)))
    return -1;
  return r.lVal;
}

class Creation : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("JTZCOM_REGISTRY", RTEST_REGISTRY, 1);
    ezjcomTestReset();
    ezjcomInitThread(env);
  }
  JNIEnv* env = jtz::test::env();
};

TEST_F(Creation, NewInstanceIsTheServersDispatchInterface) {
  void* out = nullptr;
  ASSERT_EQ(ezjcomCreateInstance(env, kServed, &out), S_OK);
  auto* d = static_cast<IDispatch*>(out);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(ask(d, 1), 1) << "the caller holds the only reference";
  d->Release();

  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(ezjcomCreateInstance(env, kUnknown, &out), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(out, nullptr);
}

TEST_F(Creation, ActiveInstanceIsTheRunningObjectAsDispatch) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(ezjcomGetActiveInstance(env, kRunningOnly, &out), MK_E_UNAVAILABLE);
  EXPECT_EQ(out, nullptr);

  FakeDispatch* fake = rtest::make<FakeDispatch>();
  DWORD token = 0;
  ASSERT_EQ(RegisterActiveObject(fake, kRunningOnly, ACTIVEOBJECT_WEAK, &token), S_OK);
  ASSERT_EQ(ezjcomGetActiveInstance(env, kRunningOnly, &out), S_OK);
  EXPECT_EQ(out, static_cast<IDispatch*>(fake));
  EXPECT_EQ(fake->refs.load(), 2) << "one reference for the caller, the lookup's given back";
  static_cast<IDispatch*>(out)->Release();
  RevokeActiveObject(token, nullptr);
  rtest::destroy(fake);
}

TEST_F(Creation, AttachOrCreatePrefersTheRunningInstance) {
  FakeDispatch* fake = rtest::make<FakeDispatch>();
  DWORD token = 0;
  ASSERT_EQ(RegisterActiveObject(fake, kServed, ACTIVEOBJECT_WEAK, &token), S_OK);
  void* out = nullptr;
  ASSERT_EQ(ezjcomMiscFunc4(env, kServed, &out, 0), S_OK);
  EXPECT_EQ(out, static_cast<IDispatch*>(fake));
  static_cast<IDispatch*>(out)->Release();
  RevokeActiveObject(token, nullptr);

  // Nothing running: a new instance.
  ASSERT_EQ(ezjcomMiscFunc4(env, kServed, &out, 0), S_OK);
  ASSERT_NE(out, nullptr);
  EXPECT_NE(out, static_cast<IDispatch*>(fake));
  EXPECT_EQ(ask(static_cast<IDispatch*>(out), 1), 1);
  static_cast<IDispatch*>(out)->Release();
  EXPECT_EQ(fake->refs.load(), 1);
  rtest::destroy(fake);

  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(ezjcomMiscFunc4(env, kUnknown, &out, 0), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(ezjcomMiscFunc4(env, kServed, &out, 1), E_INVALIDARG) << "0 is the only option";
  EXPECT_EQ(out, nullptr);
}

// The object of a remote creation is the running instance for the next lookup,
// which takes it: the runtime then holds no reference and no registration, so
// the object goes with its last user.
TEST_F(Creation, RemoteCreationIsTakenByTheNextActiveInstanceLookup) {
  const IID* iids[] = {&IID_IUnknown, &IID_IDispatch};
  ASSERT_EQ(ezjcomCreateInstanceRemote(env, kServedRemotely, kLocalhost, nullptr, nullptr, nullptr,
                                       2, 0, iids),
            S_OK);
  void* first = nullptr;
  ASSERT_EQ(ezjcomGetActiveInstance(env, kServedRemotely, &first), S_OK);
  auto* a = static_cast<IDispatch*>(first);
  EXPECT_EQ(ask(a, 1), 1) << "ours alone";
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(ezjcomGetActiveInstance(env, kServedRemotely, &none), MK_E_UNAVAILABLE)
      << "taken: no longer running";
  EXPECT_EQ(none, nullptr);
  const LONG alive = ask(a, 2);

  // With an identity, and through attach-or-create: the same.
  const jchar user[] = {'o', 'p', 't', 0}, domain[] = {'s', 'h', 'o', 'p', 0},
              password[] = {'x', 0};
  ASSERT_EQ(ezjcomCreateInstanceRemote(env, kServedRemotely, kLocalhost, user, domain, password, 2,
                                       CLSCTX_INPROC_SERVER, iids),
            S_OK);
  void* second = nullptr;
  ASSERT_EQ(ezjcomMiscFunc4(env, kServedRemotely, &second, 0), S_OK);
  auto* b = static_cast<IDispatch*>(second);
  EXPECT_NE(b, a);
  EXPECT_EQ(ask(b, 1), 1);
  EXPECT_EQ(ask(b, 2), alive + 1);
  a->Release();
  EXPECT_EQ(ask(b, 2), alive) << "the first object is gone with our reference";

  // A creation nobody took is let go by the next one.
  for (int i = 0; i < 2; ++i)
    ASSERT_EQ(ezjcomCreateInstanceRemote(env, kServedRemotely, kLocalhost, nullptr, nullptr,
                                         nullptr, 2, 0, iids),
              S_OK);
  EXPECT_EQ(ask(b, 2), alive + 1) << "b and the one held now";
  void* third = nullptr;
  ASSERT_EQ(ezjcomGetActiveInstance(env, kServedRemotely, &third), S_OK);
  static_cast<IDispatch*>(third)->Release();
  EXPECT_EQ(ask(b, 2), alive);
  b->Release();
}

TEST_F(Creation, RemoteCreationFailuresComeBackAsHresults) {
  const IID* iids[] = {&IID_IUnknown, &IID_IDispatch};
  const jchar far[] = {'t', 'r', 'a', 'z', 'a', 'd', 'o', 'r', '.',
                       'i', 'n', 'v', 'a', 'l', 'i', 'd', 0};
  EXPECT_EQ(
      ezjcomCreateInstanceRemote(env, kServedRemotely, far, nullptr, nullptr, nullptr, 2, 0, iids),
      static_cast<HRESULT>(0x800706BA));
  EXPECT_EQ(
      ezjcomCreateInstanceRemote(env, kUnknown, kLocalhost, nullptr, nullptr, nullptr, 2, 0, iids),
      REGDB_E_CLASSNOTREG);
  EXPECT_EQ(ezjcomCreateInstanceRemote(env, kServedRemotely, kLocalhost, nullptr, nullptr, nullptr,
                                       0, 0, iids),
            E_INVALIDARG);
  EXPECT_EQ(ezjcomCreateInstanceRemote(env, kServedRemotely, nullptr, nullptr, nullptr, nullptr, 2,
                                       0, iids),
            E_INVALIDARG);
  const IID* none_known[] = {&rtest::kFakeEventsIid};
  EXPECT_EQ(ezjcomCreateInstanceRemote(env, kServedRemotely, kLocalhost, nullptr, nullptr, nullptr,
                                       1, 0, none_known),
            E_NOINTERFACE);
}

// An allocation that fails inside the runtime comes back as E_OUTOFMEMORY, never
// as a C++ exception into its caller.
TEST_F(Creation, AllocationFailureIsAnHresult) {
  const IID* iids[] = {&IID_IUnknown, &IID_IDispatch};
  std::vector<jchar> name(100000, 'h');  // a machine name longer than any allocation allowed
  name.push_back(0);
  HRESULT hr = S_OK;
  try {
    jtz::test::FailingAllocations failing(jtz::test::kLargeAllocations);
    hr = ezjcomCreateInstanceRemote(env, kServedRemotely, name.data(), nullptr, nullptr, nullptr, 2,
                                    0, iids);
  } catch (const std::bad_alloc&) {
    ADD_FAILURE() << "std::bad_alloc came out of the runtime";
  }
  EXPECT_EQ(hr, E_OUTOFMEMORY);
}

TEST_F(Creation, QueryInterfaceOfAnUnboundValueIsEPointer) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(ezjcomQueryInterface(env, 0, IID_IUnknown, &out), E_POINTER);
  EXPECT_EQ(out, nullptr);
}

TEST_F(Creation, QueryInterfaceReadsTheFieldValueAsUnsigned32Bits) {
  // An object at an address with bit 31 set: in a 32-bit process, where the
  // value is the pointer itself, a negative int.
  void* at = MAP_FAILED;
  for (uintptr_t a = 0xC0000000u; a < 0xFFFF0000u && at == MAP_FAILED; a += 0x01000000u) {
    void* p = mmap(reinterpret_cast<void*>(a), 4096, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (p == reinterpret_cast<void*>(a)) {
      at = p;
    } else if (p != MAP_FAILED) {
      munmap(p, 4096);  // kernels without MAP_FIXED_NOREPLACE treat it as a hint
    }
  }
  if (at == MAP_FAILED) GTEST_SKIP() << "no free page between 3 and 4 GiB";
  auto* d = new (at) FakeDispatch;
  void* out = nullptr;
  {
    const rtest::Bound bound(d);
    if (sizeof(void*) == sizeof(jint)) {
      ASSERT_LT(bound.value(), 0);
    }
    EXPECT_EQ(ezjcomQueryInterface(env, bound.value(), IID_IDispatch, &out), S_OK);
  }
  EXPECT_EQ(out, static_cast<IDispatch*>(d));
  EXPECT_EQ(d->queries, 1);
  d->~FakeDispatch();
  munmap(at, 4096);
}

TEST_F(Creation, InvokeHelperMakesOneInvokeWithEveryArgumentInItsPlace) {
  FakeDispatch* d = rtest::make<FakeDispatch>();
  VARIANT arg;
  arg.vt = VT_I4;
  arg.lVal = 3;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&arg, &named, 1, 1};
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO ei{};
  UINT arg_err = 0;
  d->answer = DISP_E_EXCEPTION;
  EXPECT_EQ(ezjcomInvokeHelper(env, d, 12, &params, DISPATCH_PROPERTYPUT, &ei, &arg_err, &result),
            DISP_E_EXCEPTION);
  EXPECT_EQ(d->invokes, 1);
  EXPECT_EQ(d->dispid, 12);
  EXPECT_TRUE(d->riid_was_null);
  EXPECT_EQ(d->lcid, GetUserDefaultLCID());
  EXPECT_EQ(d->flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(d->params, &params);
  EXPECT_EQ(d->result, &result);
  EXPECT_EQ(d->excep, &ei);
  EXPECT_EQ(d->arg_err, &arg_err);
  EXPECT_EQ(ei.scode, E_INVALIDARG) << "the callee filled the exception information given";
  EXPECT_EQ(result.vt, VT_I4);

  d->answer = S_FALSE;
  EXPECT_EQ(ezjcomInvokeHelper(env, d, 1, &params, DISPATCH_METHOD, &ei, &arg_err, &result),
            S_FALSE);
  EXPECT_EQ(ezjcomInvokeHelper(env, nullptr, 1, &params, DISPATCH_METHOD, &ei, &arg_err, &result),
            E_POINTER);
  EXPECT_EQ(d->invokes, 2);
  rtest::destroy(d);
}

}  // namespace
