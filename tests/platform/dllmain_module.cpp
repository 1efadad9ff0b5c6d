// A module with a DllMain of its own, built twice (JTZ_MODULE_NAME "a" and
// "b"). Both export DllMain, so that a module which calls the wrong one (the
// first loaded into the global scope) would show it. Each call is reported to
// the test program, together with whether this module's static objects are
// alive at that moment.
#include <posixcom/com.h>

// Defined by the test program (exported from its executable).
extern "C" void jtz_test_dllmain_seen(const char* module, HINSTANCE instance, DWORD reason,
                                      bool statics_alive);

namespace {

struct Static {
  Static() { alive = true; }
  ~Static() { alive = false; }
  bool alive = false;
};
Static static_object;

}  // namespace

extern "C" __attribute__((visibility("default"))) BOOL WINAPI DllMain(HINSTANCE instance,
                                                                      DWORD reason, LPVOID) {
  jtz_test_dllmain_seen(JTZ_MODULE_NAME, instance, reason, static_object.alive);
  return TRUE;
}

// Some function of the module, whose address tells the module's base.
extern "C" __attribute__((visibility("default"))) int jtz_test_module_marker() { return 1; }
