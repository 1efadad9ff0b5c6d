// What the Windows test host's suites share: one line per check, the two
// libraries and their natives called as the JVM calls them (on the calling
// thread's JNI environment: the main thread's, or that of a thread attached
// with AttachedThread), the runtime's journal, Java objects of the host's VM,
// and threads.
//
//   check(member<jint>("getStatus", device) == 200, "a scan ends with status 200");
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "mini_jvm.h"

namespace wh {

using mjvm::Object;
using mjvm::Vm;

// ---- reporting ----

inline int g_passed = 0;
inline int g_failed = 0;

inline void check(bool ok, const std::string& what, const std::string& detail = std::string()) {
  if (ok) {
    ++g_passed;
    std::printf("ok   %s\n", what.c_str());
  } else {
    ++g_failed;
    std::printf("FAIL %s%s%s\n", what.c_str(), detail.empty() ? "" : ": ", detail.c_str());
  }
  std::fflush(stdout);
}

inline std::string hex(unsigned long v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", v);
  return buf;
}

inline std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += (out.empty() ? "[" : " | ") + l;
  return out.empty() ? "[]" : out + "]";
}

// ---- the two libraries ----

inline HMODULE g_runtime = nullptr;
inline HMODULE g_bridge = nullptr;
inline std::vector<std::string> g_missing;  // natives that GetProcAddress did not find

template <class Fn>
Fn runtime_function(const char* name) {
  FARPROC p = g_runtime ? GetProcAddress(g_runtime, name) : nullptr;
  if (!p) {
    std::printf("FAIL EZJcomLib18.dll has no export %s\n", name);
    std::exit(1);
  }
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
}

// The runtime's journal of operation calls (ezjcom/testing.h), as lines.
inline std::vector<std::string> journal() {
  static auto copy = runtime_function<size_t(__cdecl*)(char*, size_t)>("ezjcomTestJournal");
  std::string text(copy(nullptr, 0) + 1, '\0');
  text.resize(copy(&text[0], text.size()));
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

inline std::vector<std::string> journal_of(const std::string& op) {
  std::vector<std::string> out;
  for (const std::string& l : journal())
    if (l.compare(0, op.size(), op) == 0 && (l.size() == op.size() || l[op.size()] == ' '))
      out.push_back(l);
  return out;
}

inline void journal_reset() { runtime_function<void(__cdecl*)()>("ezjcomTestReset")(); }
inline long runtime_attached_threads() {
  return runtime_function<long(__cdecl*)()>("ezjcomTestAttachedThreads")();
}
// Global and weak global references the runtime keeps for the life of the process.
inline long runtime_held_global_refs() {
  return runtime_function<long(__cdecl*)()>("ezjcomTestHeldGlobalRefs")();
}
inline long runtime_held_weak_refs() {
  return runtime_function<long(__cdecl*)()>("ezjcomTestHeldWeakRefs")();
}

// The calling thread's JNI environment: its own where it is attached, else the main thread's.
inline JNIEnv* env() {
  Vm& vm = Vm::instance();
  JNIEnv* mine = nullptr;
  if (vm.java_vm()->GetEnv(reinterpret_cast<void**>(&mine), JNI_VERSION_1_8) == JNI_OK && mine)
    return mine;
  return vm.main_env();
}

// Bytes of the arguments on the stack of a __stdcall call: each rounded up to 4
// (what the decoration of a 32-bit x86 native counts; x86-64 has none).
template <class... A>
constexpr size_t stack_bytes() {
  return sizeof(JNIEnv*) + (0 + ... + ((sizeof(A) + 3) / 4 * 4));
}

// The name under which the JVM of this machine looks up a native: on 32-bit
// x86 the Microsoft-style __stdcall name _jniName@bytes (the first it tries),
// on x86-64 the plain name (the only one it tries: no decoration there).
inline std::string jvm_export_name(const std::string& jniName, size_t bytes) {
#ifdef _WIN64
  (void)bytes;
  return jniName;
#else
  return "_" + jniName + "@" + std::to_string(bytes);
#endif
}

// The other forms a native could be exported under; the bridge has none of them.
inline std::vector<std::string> other_export_names(const std::string& jniName, size_t bytes) {
  const std::string at = jniName + "@" + std::to_string(bytes);
#ifdef _WIN64
  return {"_" + at, at};
#else
  return {at, jniName};
#endif
}

// Calls the native jniName of `module` as the JVM would: found under
// jvm_export_name, with bytes from the C++ types of the arguments, in a frame
// of its own whose local references end with the call.
template <class R, class... A>
R call_in(HMODULE module, const std::string& jniName, A... args) {
  using Fn = R(JNICALL*)(JNIEnv*, A...);
  const std::string name = jvm_export_name(jniName, stack_bytes<A...>());
  FARPROC p = module ? GetProcAddress(module, name.c_str()) : nullptr;
  if (!p) {
    g_missing.push_back(name);
    return R();
  }
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
  Vm& vm = Vm::instance();
  JNIEnv* e = env();
  vm.push_frame(e);
  if constexpr (std::is_void_v<R>) {
    fn(e, args...);
    vm.pop_frame(e, nullptr);
  } else if constexpr (std::is_pointer_v<R>) {
    R r = fn(e, args...);
    return static_cast<R>(vm.pop_frame(e, r));
  } else {
    R r = fn(e, args...);
    vm.pop_frame(e, nullptr);
    return r;
  }
}

template <class R, class... A>
R native(const std::string& jniName, A... args) {
  return call_in<R>(g_bridge, jniName, args...);
}

template <class R, class... A>
R member(const std::string& name, jobject self, A... args) {
  return call_in<R>(g_bridge, "Java_puente_IScanMontura_" + name, self, args...);
}

// ---- Java objects of the host ----

// A reference that lives as long as the calling thread's outer frame (the
// whole run, on the main thread).
inline jobject ref(Object* o) { return o ? Vm::instance().local(env(), o) : nullptr; }

inline Object* deref(jobject r) { return Vm::instance().deref(env(), r, "host"); }

inline Object* new_instance(const char* slashClass) {
  return Vm::instance().new_object(Vm::instance().find(slashClass));
}

inline jstring jstr(const std::u16string& s) {
  return static_cast<jstring>(ref(Vm::instance().new_string(s)));
}

inline std::u16string chars(jobject s) {
  Object* o = deref(s);
  return o ? o->chars : u"<null>";
}

// The exception pending on the calling thread, taken: "class: message" or "".
inline std::string take_exception() {
  Vm& vm = Vm::instance();
  Object* t = vm.pending(env());
  vm.clear_pending(env());
  return t ? t->cls->name + ": " + t->message : std::string();
}

inline Object* take_throwable() {
  Vm& vm = Vm::instance();
  Object* t = vm.pending(env());
  vm.clear_pending(env());
  return t;
}

// The interface pointer a wrapper's com-id or event-id field stands for, as
// the runtime resolves it (a pointer value in a 32-bit process, a handle in a
// 64-bit one), or null when no binding of the value is open. No reference is
// added.
template <class T>
T* pointer(Object* wrapper, const char* field) {
  static auto object_of = runtime_function<IUnknown*(__cdecl*)(jint)>("ezjcomTestObjectOf");
  return reinterpret_cast<T*>(object_of(wrapper->get_int(field)));
}

// ---- threads ----

inline DWORD WINAPI run_body(LPVOID body) {
  (*static_cast<std::function<void()>*>(body))();
  return 0;
}

// Runs body on a new thread and waits for its end.
inline void on_new_thread(std::function<void()> body) {
  HANDLE h = CreateThread(nullptr, 0, run_body, &body, 0, nullptr);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
}

// The calling thread attached to the host's VM for the scope, as a Java thread is.
class AttachedThread {
 public:
  AttachedThread() {
    Vm::instance().java_vm()->AttachCurrentThread(reinterpret_cast<void**>(&env_), nullptr);
  }
  ~AttachedThread() { Vm::instance().java_vm()->DetachCurrentThread(); }
  AttachedThread(const AttachedThread&) = delete;
  AttachedThread& operator=(const AttachedThread&) = delete;

 private:
  JNIEnv* env_ = nullptr;
};

// ---- the component ----

inline const char kIidText[] = "{834FBEE1-D957-11D3-9C50-0060972F00DC}";
inline const char kClsidText[] = "{834FBEE5-D957-11D3-9C50-0060972F00DC}";
inline const IID kIidIScanMontura = {
    0x834FBEE1, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};

// What regsvr32 registered as the class's threading model ("" if nothing).
inline std::wstring registered_threading_model() {
  wchar_t model[32] = L"";
  DWORD size = sizeof model;
  const wchar_t key[] = L"CLSID\\{834FBEE5-D957-11D3-9C50-0060972F00DC}\\InprocServer32";
  if (RegGetValueW(HKEY_CLASSES_ROOT, key, L"ThreadingModel", RRF_RT_REG_SZ, nullptr, model,
                   &size) != ERROR_SUCCESS)
    return std::wstring();
  return model;
}

// The checks of the apartment-threaded component (apartment_suite.cpp).
void apartment_suite();

// The checks of the component in COM's surrogate, another process
// (out_of_process_suite.cpp): the 32-bit component where x86, else the 64-bit one.
void out_of_process_suite(bool x86);

// A thread in a single-threaded apartment makes a component that fires
// OnChange inside setText, connects a sink of its own apartment and sets the
// text (caller_apartment.cpp); run by the suites of both threading models.
void listener_in_the_callers_apartment();
// A call made by a single-threaded caller while it waits for another, which
// ends first (caller_apartment.cpp).
void nested_waits_in_a_single_threaded_caller();

// The checks of the end of every run (wine_host.cpp): every global reference,
// weak one and string's characters given back, every native found, no misuse
// of JNI, and nothing called at process detach.
void final_checks();

}  // namespace wh
