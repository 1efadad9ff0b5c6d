// Object creation through the class registry, remote names, and the running
// object table.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "test_server.h"
#include "test_util.h"

namespace {

const TestServerCounters& server() {
  static const TestServerCounters* counters = [] {
    // The same file that the registry names, so the same loaded module.
    void* module = dlopen(JTZ_TEST_SERVER, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(module, nullptr) << dlerror();
    auto fn = reinterpret_cast<TestServerCountersFn>(dlsym(module, "jtz_test_server_counters"));
    return fn();
  }();
  return *counters;
}

// Points JTZCOM_REGISTRY at another registry for the life of the object
// (null: no variable, the registry next to libjtzcom).
class ScopedRegistry {
 public:
  explicit ScopedRegistry(const std::string& path) : ScopedRegistry(path.c_str()) {}
  explicit ScopedRegistry(const char* path) {
    if (const char* old = std::getenv("JTZCOM_REGISTRY")) old_ = old, had_ = true;
    if (path)
      setenv("JTZCOM_REGISTRY", path, 1);
    else
      unsetenv("JTZCOM_REGISTRY");
  }
  ~ScopedRegistry() {
    if (had_)
      setenv("JTZCOM_REGISTRY", old_.c_str(), 1);
    else
      unsetenv("JTZCOM_REGISTRY");
  }

 private:
  std::string old_;
  bool had_ = false;
};

std::string write_registry(const std::string& name, const std::string& content) {
  const std::string path = std::string(JTZ_TEST_SCRATCH) + "/" + name;
  std::ofstream(path) << content;
  return path;
}

HRESULT create(REFCLSID clsid, ITestObject** out, DWORD context = CLSCTX_INPROC_SERVER) {
  *out = reinterpret_cast<ITestObject*>(0x1234);  // must come back null on failure
  return CoCreateInstance(clsid, nullptr, context, IID_ITestObject, reinterpret_cast<void**>(out));
}

CLSID class_of(ITestObject* object) {
  CLSID clsid = IID_NULL;
  object->GetClass(&clsid);
  return clsid;
}

TEST(CoCreateInstance, CreatesThroughTheRegistryNextToTheLibrary) {
  ScopedRegistry registry(nullptr);
  const LONG live = server().live_objects;
  ITestObject* object;
  ASSERT_EQ(create(kDefaultRegistryClass, &object), S_OK);
  EXPECT_TRUE(IsEqualCLSID(class_of(object), kDefaultRegistryClass));
  EXPECT_EQ(server().live_objects, live + 1);
  object->Release();
  EXPECT_EQ(server().live_objects, live);

  // "Local server" and "all" contexts are served in-process as well.
  for (DWORD context : {DWORD(CLSCTX_LOCAL_SERVER), DWORD(CLSCTX_ALL), DWORD(CLSCTX_SERVER)}) {
    ASSERT_EQ(create(kDefaultRegistryClass, &object, context), S_OK) << context;
    object->Release();
  }
}

TEST(CoCreateInstance, AsksTheModuleForTheClassFactoryOnce) {
  ScopedRegistry registry(nullptr);
  ITestObject* object;
  ASSERT_EQ(create(kDefaultRegistryClass, &object), S_OK);
  object->Release();
  const LONG class_objects = server().class_objects, factories = server().live_factories;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(create(kDefaultRegistryClass, &object), S_OK);
    object->Release();
  }
  EXPECT_EQ(server().class_objects, class_objects);
  EXPECT_EQ(server().live_factories, factories);  // the cached factory stays alive
}

TEST(CoCreateInstance, FailuresLeaveANullPointer) {
  ScopedRegistry registry(nullptr);
  const LONG live = server().live_objects;
  ITestObject* object;
  const CLSID unknown = {0x6A1E0EEE, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  EXPECT_EQ(create(unknown, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(create(kDefaultRegistryClass, &object, CLSCTX_INPROC_HANDLER), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);

  void* dispatch = &object;
  EXPECT_EQ(CoCreateInstance(kDefaultRegistryClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             &dispatch),
            E_NOINTERFACE);
  EXPECT_EQ(dispatch, nullptr);
  EXPECT_EQ(server().live_objects, live);  // the refused object is gone

  CountedUnknown outer;  // the server's own refusal reaches the caller
  void* aggregated = &object;
  EXPECT_EQ(CoCreateInstance(kDefaultRegistryClass, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             &aggregated),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(aggregated, nullptr);
  EXPECT_EQ(
      CoCreateInstance(kDefaultRegistryClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
      E_POINTER);
}

TEST(CoCreateInstance, EnvironmentNamesAnotherRegistry) {
  ITestObject* object;
  {
    ScopedRegistry registry(nullptr);  // the build's registry does not list this class
    EXPECT_EQ(create(kTestRegistryClass, &object), REGDB_E_CLASSNOTREG);
  }
  ScopedRegistry registry(JTZ_TEST_REGISTRY);
  ASSERT_EQ(create(kTestRegistryClass, &object), S_OK);
  EXPECT_TRUE(IsEqualCLSID(class_of(object), kTestRegistryClass));
  object->Release();
  // Registered, but the module does not serve it: its answer is passed on.
  EXPECT_EQ(create(kRefusedClass, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
}

TEST(CoCreateInstance, ReadsTheRegistryAgainUntilAClassLoads) {
  const std::string lower = "{6a1e0003-5c3b-4f1d-9e21-0a4c7b112003}";
  const std::string no_entry_point = "{6A1E0005-5C3B-4F1D-9E21-0A4C7B112005}";
  CLSID no_entry_point_class;
  std::u16string wide(no_entry_point.begin(), no_entry_point.end());
  ASSERT_EQ(CLSIDFromString(wide.c_str(), &no_entry_point_class), S_OK);

  ITestObject* object;
  {
    ScopedRegistry registry(JTZ_TEST_SCRATCH "/no-such-registry");
    EXPECT_EQ(create(kRuntimeRegistryClass, &object), REGDB_E_CLASSNOTREG);  // no file at all
  }
  ScopedRegistry registry(
      write_registry("runtime-registry", "# comment\n\n" + lower + " no-such-module.so Both\n" +
                                             no_entry_point + " " JTZ_TEST_LIBJTZCOM "\n"));
  EXPECT_EQ(create(kRuntimeRegistryClass, &object), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(create(no_entry_point_class, &object),
            CO_E_SERVER_EXEC_FAILURE);  // no DllGetClassObject

  // A failed load is not remembered: the fixed registry is read again.
  write_registry("runtime-registry", "garbage line\n{6A1E0003} broken.so\n   \t\n  " + lower +
                                         "\t" JTZ_TEST_SERVER "  \r\n");
  ASSERT_EQ(create(kRuntimeRegistryClass, &object), S_OK);
  EXPECT_TRUE(IsEqualCLSID(class_of(object), kRuntimeRegistryClass));
  object->Release();
}

TEST(CoCreateInstance, ThreadsRacingForANewClassShareOneFactory) {
  write_registry("raced-registry", "{6A1E0004-5C3B-4F1D-9E21-0A4C7B112004} " JTZ_TEST_SERVER "\n");
  ScopedRegistry raced(JTZ_TEST_SCRATCH "/raced-registry");
  const LONG factories = server().live_factories, live = server().live_objects;
  constexpr int kThreads = 4;
  std::atomic<int> ready{0};
  std::vector<HRESULT> results(kThreads, E_FAIL);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      ITestObject* object;
      results[t] = create(kRacedClass, &object);
      if (SUCCEEDED(results[t])) object->Release();
    });
  }
  for (auto& t : threads) t.join();
  for (HRESULT hr : results) EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(server().live_factories, factories + 1);  // the losers' factories were released
  EXPECT_EQ(server().live_objects, live);
}

std::vector<std::u16string> local_names() {
  std::vector<std::u16string> names = {u"localhost", u"LocalHost", u"127.0.0.1", u"::1", u".", u""};
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  std::string own = host;
  names.emplace_back(own.begin(), own.end());
  for (char& c : own) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  names.emplace_back(own.begin(), own.end());
  return names;
}

TEST(CoCreateInstanceEx, LocalNamesCreateHereAndFillEveryResult) {
  ScopedRegistry registry(nullptr);
  const LONG live = server().live_objects;
  std::vector<std::u16string> names = local_names();
  std::vector<COSERVERINFO*> infos = {nullptr};
  std::vector<COSERVERINFO> storage(names.size() + 1, COSERVERINFO{});
  for (size_t i = 0; i < names.size(); ++i) {
    storage[i].pwszName = names[i].data();
    infos.push_back(&storage[i]);
  }
  storage.back().pwszName = nullptr;  // a server info without a name is local too
  infos.push_back(&storage.back());
  for (size_t i = 0; i < infos.size(); ++i) {
    COSERVERINFO* info = infos[i];
    MULTI_QI qi[2] = {{&IID_IUnknown, nullptr, E_FAIL}, {&IID_ITestObject, nullptr, E_FAIL}};
    ASSERT_EQ(CoCreateInstanceEx(kDefaultRegistryClass, nullptr, CLSCTX_SERVER, info, 2, qi), S_OK)
        << "name " << i;
    EXPECT_EQ(qi[0].hr, S_OK);
    EXPECT_EQ(qi[1].hr, S_OK);
    ASSERT_NE(qi[1].pItf, nullptr);
    EXPECT_TRUE(
        IsEqualCLSID(class_of(static_cast<ITestObject*>(qi[1].pItf)), kDefaultRegistryClass));
    qi[0].pItf->Release();
    qi[1].pItf->Release();
  }
  EXPECT_EQ(server().live_objects, live);
}

TEST(CoCreateInstanceEx, ReportsInterfacesThatAreMissing) {
  ScopedRegistry registry(nullptr);
  const LONG live = server().live_objects;
  MULTI_QI some[2] = {{&IID_ITestObject, nullptr, E_FAIL}, {&IID_IDispatch, nullptr, E_FAIL}};
  EXPECT_EQ(
      CoCreateInstanceEx(kDefaultRegistryClass, nullptr, CLSCTX_INPROC_SERVER, nullptr, 2, some),
      CO_S_NOTALLINTERFACES);
  EXPECT_EQ(some[0].hr, S_OK);
  EXPECT_EQ(some[1].hr, E_NOINTERFACE);
  EXPECT_EQ(some[1].pItf, nullptr);
  some[0].pItf->Release();

  MULTI_QI none[2] = {{&IID_IDispatch, nullptr, E_FAIL}, {&IID_IClassFactory, nullptr, E_FAIL}};
  EXPECT_EQ(
      CoCreateInstanceEx(kDefaultRegistryClass, nullptr, CLSCTX_INPROC_SERVER, nullptr, 2, none),
      E_NOINTERFACE);
  EXPECT_EQ(none[0].pItf, nullptr);
  EXPECT_EQ(none[1].hr, E_NOINTERFACE);
  EXPECT_EQ(server().live_objects, live);

  const CLSID unknown = {0x6A1E0EEE, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
  MULTI_QI qi[2] = {{&IID_IUnknown, nullptr, E_FAIL}, {&IID_ITestObject, nullptr, E_FAIL}};
  EXPECT_EQ(CoCreateInstanceEx(unknown, nullptr, CLSCTX_INPROC_SERVER, nullptr, 2, qi),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(qi[0].hr, REGDB_E_CLASSNOTREG);
  EXPECT_EQ(qi[1].hr, REGDB_E_CLASSNOTREG);
  EXPECT_EQ(
      CoCreateInstanceEx(kDefaultRegistryClass, nullptr, CLSCTX_INPROC_SERVER, nullptr, 0, qi),
      E_INVALIDARG);
}

TEST(CoCreateInstanceEx, OtherMachinesAreUnavailableAtOnce) {
  ScopedRegistry registry(nullptr);
  const LONG live = server().live_objects;
  const HRESULT unavailable = static_cast<HRESULT>(0x800706BA);
  EXPECT_EQ(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), unavailable);
  for (const char16_t* name : {u"scanner-pc", u"192.168.1.20", u"\\\\taller", u"localhost.example",
                               u"127.0.0.2", u"l\u00f3calhost"}) {
    COSERVERINFO info{};
    info.pwszName = const_cast<LPWSTR>(reinterpret_cast<const WCHAR*>(name));
    IUnknown* garbage = reinterpret_cast<IUnknown*>(0x1234);
    MULTI_QI qi[2] = {{&IID_IUnknown, garbage, E_FAIL}, {&IID_ITestObject, garbage, E_FAIL}};
    EXPECT_EQ(
        CoCreateInstanceEx(kDefaultRegistryClass, nullptr, CLSCTX_REMOTE_SERVER, &info, 2, qi),
        unavailable);
    for (const MULTI_QI& q : qi) {
      EXPECT_EQ(q.hr, unavailable);
      EXPECT_EQ(q.pItf, nullptr);
    }
  }
  EXPECT_EQ(server().live_objects, live);
}

const CLSID kActiveClass = {0x6A1E0A01, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
const CLSID kOtherActiveClass = {0x6A1E0A02, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};

TEST(RunningObjectTable, StrongRegistrationHoldsAReference) {
  CountedUnknown object;
  DWORD token = 0;
  ASSERT_EQ(RegisterActiveObject(&object, kActiveClass, ACTIVEOBJECT_STRONG, &token), S_OK);
  EXPECT_NE(token, 0u);
  EXPECT_EQ(object.refs, 2);
  IUnknown* found = nullptr;
  ASSERT_EQ(GetActiveObject(kActiveClass, nullptr, &found), S_OK);
  EXPECT_EQ(found, &object);
  EXPECT_EQ(object.refs, 3);
  found->Release();
  EXPECT_EQ(GetActiveObject(kOtherActiveClass, nullptr, &found), MK_E_UNAVAILABLE);
  EXPECT_EQ(found, nullptr);
  ASSERT_EQ(RevokeActiveObject(token, nullptr), S_OK);
  EXPECT_EQ(object.refs, 1);
  EXPECT_EQ(GetActiveObject(kActiveClass, nullptr, &found), MK_E_UNAVAILABLE);
  EXPECT_EQ(RevokeActiveObject(token, nullptr), E_INVALIDARG);  // only once
  EXPECT_EQ(object.refs, 1);
}

TEST(RunningObjectTable, WeakRegistrationHoldsNone) {
  CountedUnknown object;
  DWORD token = 0;
  ASSERT_EQ(RegisterActiveObject(&object, kActiveClass, ACTIVEOBJECT_WEAK, &token), S_OK);
  EXPECT_EQ(object.refs, 1);
  IUnknown* found = nullptr;
  ASSERT_EQ(GetActiveObject(kActiveClass, nullptr, &found), S_OK);
  EXPECT_EQ(object.refs, 2);  // the caller still gets its own
  found->Release();
  ASSERT_EQ(RevokeActiveObject(token, nullptr), S_OK);
  EXPECT_EQ(object.refs, 1);
}

TEST(RunningObjectTable, EarliestRegistrationIsTheActiveObject) {
  CountedUnknown first, second;
  DWORD t1 = 0, t2 = 0;
  ASSERT_EQ(RegisterActiveObject(&first, kActiveClass, ACTIVEOBJECT_STRONG, &t1), S_OK);
  ASSERT_EQ(RegisterActiveObject(&second, kActiveClass, ACTIVEOBJECT_STRONG, &t2), S_OK);
  EXPECT_NE(t1, t2);
  IUnknown* found = nullptr;
  ASSERT_EQ(GetActiveObject(kActiveClass, nullptr, &found), S_OK);
  EXPECT_EQ(found, &first);
  found->Release();
  ASSERT_EQ(RevokeActiveObject(t1, nullptr), S_OK);
  ASSERT_EQ(GetActiveObject(kActiveClass, nullptr, &found), S_OK);
  EXPECT_EQ(found, &second);
  found->Release();
  ASSERT_EQ(RevokeActiveObject(t2, nullptr), S_OK);
  EXPECT_EQ(first.refs, 1);
  EXPECT_EQ(second.refs, 1);
  EXPECT_EQ(RegisterActiveObject(nullptr, kActiveClass, 0, &t1), E_INVALIDARG);
}

// An object whose last release revokes another registration, as a component
// that registers itself and a helper might.
struct RevokingObject : CountedUnknown {
  DWORD other_token = 0;
  HRESULT revoke_result = E_FAIL;
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG refs = InterlockedDecrement(&this->refs);
    if (refs == 0) revoke_result = RevokeActiveObject(other_token, nullptr);
    return refs;
  }
};

TEST(RunningObjectTable, ReleaseDuringRevocationMayUseTheTable) {
  RevokingObject object;
  CountedUnknown helper;
  DWORD token = 0;
  ASSERT_EQ(
      RegisterActiveObject(&helper, kOtherActiveClass, ACTIVEOBJECT_STRONG, &object.other_token),
      S_OK);
  ASSERT_EQ(RegisterActiveObject(&object, kActiveClass, ACTIVEOBJECT_STRONG, &token), S_OK);
  object.Release();  // the table now holds the last reference
  ASSERT_EQ(RevokeActiveObject(token, nullptr), S_OK);
  EXPECT_EQ(object.revoke_result, S_OK);
  EXPECT_EQ(helper.refs, 1);
}

}  // namespace

// An initialize spy that writes down what it is told and answers
// PostInitialize with `answer` when set.
struct RecordingSpy : IInitializeSpy {
  std::vector<std::string> told;
  std::atomic<long> refs{1};
  HRESULT answer = S_OK;
  bool replace_answer = false;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IInitializeSpy)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE PreInitialize(DWORD model, DWORD refs_now) override {
    told.push_back("pre-init " + std::to_string(model) + " " + std::to_string(refs_now));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT hr, DWORD, DWORD refs_now) override {
    told.push_back("post-init " + std::to_string(hr) + " " + std::to_string(refs_now));
    return replace_answer ? answer : hr;
  }
  HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD refs_now) override {
    told.push_back("pre-uninit " + std::to_string(refs_now));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD refs_now) override {
    told.push_back("post-uninit " + std::to_string(refs_now));
    return S_OK;
  }
};

// A spy hears its own thread only, until revoked; PostInitialize's answer is
// CoInitializeEx's; its reference goes back at the revocation or at the end of
// the thread it was registered on.
TEST(InitializeSpy, HearsItsThreadUntilRevokedAndIsGivenBack) {
  RecordingSpy spy;
  std::vector<HRESULT> answers;
  std::thread([&] {
    ULARGE_INTEGER cookie{};
    ASSERT_EQ(CoRegisterInitializeSpy(&spy, &cookie), S_OK);
    std::thread([] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // another thread: not heard
      CoUninitialize();
    }).join();
    answers.push_back(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    spy.replace_answer = true;
    spy.answer = E_ACCESSDENIED;
    answers.push_back(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    spy.replace_answer = false;
    CoUninitialize();
    CoUninitialize();
    ULARGE_INTEGER wrong = cookie;
    wrong.QuadPart += 100;
    answers.push_back(CoRevokeInitializeSpy(wrong));
    answers.push_back(CoRevokeInitializeSpy(cookie));
    answers.push_back(CoRevokeInitializeSpy(cookie));
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // revoked: not heard
    CoUninitialize();
    ASSERT_EQ(CoRegisterInitializeSpy(&spy, &cookie), S_OK);  // kept until the thread ends
  }).join();
  EXPECT_EQ(answers,
            (std::vector<HRESULT>{S_OK, E_ACCESSDENIED, E_INVALIDARG, S_OK, E_INVALIDARG}));
  EXPECT_EQ(spy.told, (std::vector<std::string>{"pre-init 2 0", "post-init 0 1", "pre-init 2 1",
                                                "post-init 1 2", "pre-uninit 2", "post-uninit 1",
                                                "pre-uninit 1", "post-uninit 0"}));
  EXPECT_EQ(spy.refs.load(), 1);
  EXPECT_EQ(CoRegisterInitializeSpy(nullptr, nullptr), E_INVALIDARG);
}
