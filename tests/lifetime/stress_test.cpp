// The randomized lifetime stress test (jtztest.LifetimeStress), on the embedded JVM, with what the
// runtime, the JVM and the simulated component keep counted before and after: once every wrapper
// is closed or dropped and collected, no binding is open, no connection is left, no global
// reference is held, the components' threads have ended and no component lives.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <ezjcom/testing.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fixture.h"
#include "jvm.h"

using namespace jtz::test;

namespace {

long setting(const char* name, long fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

std::vector<long> seeds() {
  const char* v = std::getenv("JTZ_STRESS_SEEDS");
  std::vector<long> out;
  std::istringstream in(v && *v ? v : "1");
  for (long s; in >> s;) out.push_back(s);
  return out;
}

long threads_of_process() {
  long n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

// The simulated component's module: S_OK from DllCanUnloadNow once no component lives.
HRESULT components_alive() {
  void* module = dlopen("libScanMonturaSim.so", RTLD_NOW | RTLD_NOLOAD);
  if (!module) return S_OK;  // never loaded
  auto can_unload = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllCanUnloadNow"));
  const HRESULT hr = can_unload ? can_unload() : E_FAIL;
  dlclose(module);
  return hr;
}

// Waits (collecting garbage) until done() holds, for up to 20 s.
template <class Done>
bool settles(JNIEnv* e, Done done) {
  jclass system = e->FindClass("java/lang/System");
  jmethodID gc = e->GetStaticMethodID(system, "gc", "()V");
  for (int i = 0; i < 400 && !done(); ++i) {
    e->CallStaticVoidMethod(system, gc);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  e->DeleteLocalRef(system);
  return done();
}

TEST(LifetimeStress, RandomOperationsKeepEveryInvariant) {
  JNIEnv* e = env();
  ezjcomTestJournalEnable(0);  // a million operations would fill it for nothing
  jclass stress = e->FindClass("jtztest/LifetimeStress");
  ASSERT_NE(stress, nullptr) << take_exception(e);
  jmethodID run = e->GetStaticMethodID(stress, "run", "(JII)Ljava/lang/String;");
  ASSERT_NE(run, nullptr) << take_exception(e);
  const long operations = setting("JTZ_STRESS_OPS", 4000);
  const long threads = setting("JTZ_STRESS_THREADS", 4);

  // A first component made and let go, so that what the process keeps for good (the
  // simulator's module, the runtime's MTA thread, the event names it keeps) is counted in.
  auto warm =
      static_cast<jstring>(e->CallStaticObjectMethod(stress, run, jlong{0}, jint{1}, jint{200}));
  ASSERT_EQ(take_exception(e), "");
  EXPECT_EQ(str(warm), "");
  e->DeleteLocalRef(warm);
  ASSERT_TRUE(settles(e, [] { return ezjcomTestOpenBindings() == 0; }));
  const long refs = global_ref_count_settling_at(global_ref_count());
  const long process_threads = threads_of_process();

  for (long seed : seeds()) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    auto report = static_cast<jstring>(
        e->CallStaticObjectMethod(stress, run, static_cast<jlong>(seed), static_cast<jint>(threads),
                                  static_cast<jint>(operations)));
    ASSERT_EQ(take_exception(e), "");
    EXPECT_EQ(str(report), "");
    e->DeleteLocalRef(report);

    EXPECT_TRUE(settles(e, [] { return ezjcomTestOpenBindings() == 0; }))
        << ezjcomTestOpenBindings() << " bindings left open";
    EXPECT_EQ(ezjcomTestOpenConnections(), 0) << "connections left";
    EXPECT_TRUE(settles(e, [] { return components_alive() == S_OK; })) << "components still alive";
    EXPECT_EQ(global_ref_count_settling_at(refs), refs) << "global references held";
    EXPECT_TRUE(settles(e, [&] { return threads_of_process() <= process_threads + 2; }))
        << threads_of_process() << " threads, " << process_threads << " before";
  }
  e->DeleteLocalRef(stress);
}

}  // namespace
