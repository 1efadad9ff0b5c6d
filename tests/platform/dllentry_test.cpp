// DllMain delivery through dlopen and dlclose of modules linked with jtz_dllentry.
#include <dlfcn.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace {

struct Call {
  std::string module;
  HINSTANCE instance;
  DWORD reason;
  bool statics_alive;
};
std::vector<Call> calls;

}  // namespace

// Called by the test modules' DllMain.
extern "C" __attribute__((visibility("default"))) void jtz_test_dllmain_seen(const char* module,
                                                                             HINSTANCE instance,
                                                                             DWORD reason,
                                                                             bool statics_alive) {
  calls.push_back({module, instance, reason, statics_alive});
}

namespace {

HINSTANCE base_of(void* module) {
  void* marker = dlsym(module, "jtz_test_module_marker");
  Dl_info info{};
  EXPECT_NE(dladdr(marker, &info), 0);
  return info.dli_fbase;
}

TEST(DllEntry, AttachAtLoadAndDetachAtUnloadWithTheModuleBase) {
  calls.clear();
  void* module = dlopen(JTZ_TEST_DLLMAIN_A, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  const HINSTANCE base = base_of(module);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].module, "a");
  EXPECT_EQ(calls[0].reason, static_cast<DWORD>(DLL_PROCESS_ATTACH));
  EXPECT_EQ(calls[0].instance, base);
  EXPECT_TRUE(calls[0].statics_alive) << "DllMain ran before the module's static objects";

  void* again = dlopen(JTZ_TEST_DLLMAIN_A, RTLD_NOW | RTLD_LOCAL);  // only counts the handle
  EXPECT_EQ(calls.size(), 1u);
  dlclose(again);
  EXPECT_EQ(calls.size(), 1u);

  ASSERT_EQ(dlclose(module), 0);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].module, "a");
  EXPECT_EQ(calls[1].reason, static_cast<DWORD>(DLL_PROCESS_DETACH));
  EXPECT_EQ(calls[1].instance, base);
  EXPECT_TRUE(calls[1].statics_alive) << "DllMain ran after the module's static objects";
}

// Both modules export a DllMain. With the first in the global scope, the
// second must still call its own.
TEST(DllEntry, EachModuleCallsItsOwnDllMain) {
  calls.clear();
  void* a = dlopen(JTZ_TEST_DLLMAIN_A, RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(a, nullptr) << dlerror();
  void* b = dlopen(JTZ_TEST_DLLMAIN_B, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(b, nullptr) << dlerror();
  const HINSTANCE base_a = base_of(a), base_b = base_of(b);
  EXPECT_NE(base_a, base_b);
  ASSERT_EQ(dlclose(b), 0);
  ASSERT_EQ(dlclose(a), 0);

  ASSERT_EQ(calls.size(), 4u);
  const struct {
    const char* module;
    DWORD reason;
    HINSTANCE base;
  } expected[] = {{"a", DLL_PROCESS_ATTACH, base_a},
                  {"b", DLL_PROCESS_ATTACH, base_b},
                  {"b", DLL_PROCESS_DETACH, base_b},
                  {"a", DLL_PROCESS_DETACH, base_a}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(calls[i].module, expected[i].module) << i;
    EXPECT_EQ(calls[i].reason, expected[i].reason) << i;
    EXPECT_EQ(calls[i].instance, expected[i].base) << i;
  }
}

}  // namespace
