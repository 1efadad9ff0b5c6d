#include "mini_jvm.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <utility>

namespace mjvm {

// Access to the VM's books from the JNI functions below.
struct VmAccess {
  static Accounts& accounts() { return Vm::instance().accounts_; }
};

namespace {

enum class RefKind { kLocal, kGlobal, kWeak };  // nothing is collected: a weak one never clears

struct Env;

struct Ref {
  Object* obj;
  RefKind kind;
  bool live;
  const Env* owner;  // the thread's environment, for a local reference
};

// A thread's environment: a JNIEnv* is the address of one of these.
struct Env {
  JNIEnv_ jni;
  std::thread::id thread;
  bool attached = true;
  Object* pending = nullptr;
  std::vector<std::vector<Ref*>> frames;
};

JNINativeInterface_ g_functions{};
JNIInvokeInterface_ g_invoke{};
JavaVM_ g_java_vm{&g_invoke};

std::deque<Env> g_envs;  // never freed: references keep their owner's address
std::deque<Ref> g_refs;  // never reused, so that a deleted one stays recognisable
std::set<const Ref*> g_known_refs;
std::set<const Method*> g_known_methods;
std::set<const Field*> g_known_fields;
std::map<const void*, Object*> g_chars;  // characters handed out, until released
Env* g_main = nullptr;
thread_local Env* t_env = nullptr;

Env* as_env(JNIEnv* env) { return reinterpret_cast<Env*>(env); }
Vm& vm() { return Vm::instance(); }

std::string describe(const Object* o) {
  if (!o) return "null";
  if (!o->message.empty()) return o->cls->name + ": " + o->message;
  return o->cls->name;
}

// Entry into a JNI function: takes the VM's lock and checks the caller.
class Enter {
 public:
  Enter(JNIEnv* env, const char* function, bool allowedWithPending = false)
      : hold_(vm().lock()), env_(as_env(env)) {
    if (!env_) {
      vm().violation(std::string(function) + ": null JNIEnv");
      return;
    }
    if (env_->thread != std::this_thread::get_id() || !env_->attached)
      vm().violation(std::string(function) + ": JNIEnv of another thread");
    if (env_->pending && !allowedWithPending)
      vm().violation(std::string(function) + " called with an exception pending (" +
                     describe(env_->pending) + ")");
  }
  Env* env() const { return env_; }

 private:
  std::lock_guard<std::recursive_mutex> hold_;
  Env* env_;
};

// ---- modified UTF-8 ----

std::u16string from_modified_utf8(const char* s) {
  std::u16string out;
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  while (*p) {
    unsigned c = *p++;
    if (c >= 0xE0 && p[0] && p[1]) {
      c = ((c & 0x0F) << 12) | ((p[0] & 0x3F) << 6) | (p[1] & 0x3F);
      p += 2;
    } else if (c >= 0xC0 && p[0]) {
      c = ((c & 0x1F) << 6) | (p[0] & 0x3F);
      p += 1;
    }
    out.push_back(static_cast<char16_t>(c));
  }
  return out;
}

std::string to_modified_utf8(const std::u16string& s) {
  std::string out;
  for (char16_t ch : s) {
    const unsigned c = ch;
    if (c != 0 && c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {  // NUL as two bytes, as Java writes it
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {  // surrogates one by one
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// ---- checked access ----

Class* class_of(JNIEnv* env, jclass c, const char* function) {
  Object* m = vm().deref(env, c, function);
  if (!m || !m->mirrorOf) {
    vm().violation(std::string(function) + ": not a class");
    return nullptr;
  }
  return m->mirrorOf;
}

const Method* method_of(jmethodID id, const char* function) {
  const auto* m = reinterpret_cast<const Method*>(id);
  if (!g_known_methods.count(m)) {
    vm().violation(std::string(function) + ": not a method ID");
    return nullptr;
  }
  return m;
}

const Field* field_of(jfieldID id, const char* function) {
  const auto* f = reinterpret_cast<const Field*>(id);
  if (!g_known_fields.count(f)) {
    vm().violation(std::string(function) + ": not a field ID");
    return nullptr;
  }
  return f;
}

Object* string_of(JNIEnv* env, jstring s, const char* function) {
  Object* o = vm().deref(env, s, function);
  if (!o || o->cls->name != "java/lang/String") {
    vm().violation(std::string(function) + ": not a string");
    return nullptr;
  }
  return o;
}

Object* array_of(JNIEnv* env, jarray a, const char* function) {
  Object* o = vm().deref(env, a, function);
  if (!o || o->cls->name[0] != '[') {
    vm().violation(std::string(function) + ": not an array");
    return nullptr;
  }
  return o;
}

void throw_in(Env* env, const char* slashClass, const std::string& message) {
  env->pending = vm().make_throwable(slashClass, message);
}

bool in_bounds(Env* env, size_t size, jsize start, jsize len, const char* exception) {
  if (start < 0 || len < 0 || static_cast<size_t>(start) + static_cast<size_t>(len) > size) {
    throw_in(env, exception, "index out of range");
    return false;
  }
  return true;
}

// The parameter kinds of a method signature: one letter each, L for any
// reference (objects and arrays).
std::vector<char> parameter_kinds(const std::string& sig) {
  std::vector<char> kinds;
  for (size_t i = 1; i < sig.size() && sig[i] != ')'; ++i) {
    char c = sig[i];
    if (c == '[') {
      while (sig[i] == '[') ++i;
      if (sig[i] == 'L') i = sig.find(';', i);
      kinds.push_back('L');
    } else if (c == 'L') {
      i = sig.find(';', i);
      kinds.push_back('L');
    } else {
      kinds.push_back(c);
    }
  }
  return kinds;
}

// Calls a method written in C++ with variadic JNI arguments. Instance methods
// other than constructors dispatch on the object's class.
jvalue invoke(Env* env, Object* self, const Method* m, va_list ap, const char* function) {
  if (!m) return jvalue{};
  if (!m->isStatic) {
    if (!self) {
      vm().violation(std::string(function) + ": null receiver");
      return jvalue{};
    }
    if (!self->cls->is_subclass_of(m->owner)) {
      vm().violation(std::string(function) + ": " + m->name + " is not a method of " +
                     self->cls->name);
      return jvalue{};
    }
    if (m->name != "<init>") {
      if (const Method* o = self->cls->find_method(m->name, m->sig, false)) m = o;
    }
  }
  Call call{&env->jni, m->isStatic ? nullptr : self, {}};
  for (char k : parameter_kinds(m->sig)) {
    jvalue v{};
    switch (k) {
      case 'J': v.j = va_arg(ap, jlong); break;
      case 'F': v.f = static_cast<jfloat>(va_arg(ap, double)); break;
      case 'D': v.d = va_arg(ap, double); break;
      case 'L': v.l = va_arg(ap, jobject); break;
      default: v.i = va_arg(ap, int); break;  // Z B C S I, promoted to int
    }
    call.args.push_back(v);
  }
  if (!m->body) return jvalue{};
  return m->body(call);
}

// ---- the JNI functions ----

jint JNICALL GetVersion(JNIEnv* env) {
  Enter e(env, "GetVersion");
  return JNI_VERSION_1_8;
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
  Enter e(env, "FindClass");
  Class* cls = name ? vm().find(name) : nullptr;
  if (!cls) {
    throw_in(e.env(), "java/lang/NoClassDefFoundError", name ? name : "null");
    return nullptr;
  }
  return static_cast<jclass>(vm().local(env, cls->mirror));
}

jint JNICALL Throw(JNIEnv* env, jthrowable t) {
  Enter e(env, "Throw");
  Object* o = vm().deref(env, t, "Throw");
  if (!o) return JNI_ERR;
  e.env()->pending = o;
  return JNI_OK;
}

jint JNICALL ThrowNew(JNIEnv* env, jclass c, const char* message) {
  Enter e(env, "ThrowNew");
  Class* cls = class_of(env, c, "ThrowNew");
  Class* throwable = vm().find("java/lang/Throwable");
  if (!cls || !cls->is_subclass_of(throwable)) {
    vm().violation("ThrowNew: not a Throwable class");
    return JNI_ERR;
  }
  e.env()->pending = vm().make_throwable(cls->name.c_str(), message ? message : "");
  return JNI_OK;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
  Enter e(env, "ExceptionOccurred", true);
  Object* p = e.env()->pending;
  return p ? static_cast<jthrowable>(vm().local(env, p)) : nullptr;
}

void JNICALL ExceptionDescribe(JNIEnv* env) {
  Enter e(env, "ExceptionDescribe", true);
  if (e.env()->pending) std::printf("     (exception: %s)\n", describe(e.env()->pending).c_str());
  e.env()->pending = nullptr;
}

void JNICALL ExceptionClear(JNIEnv* env) {
  Enter e(env, "ExceptionClear", true);
  e.env()->pending = nullptr;
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
  Enter e(env, "ExceptionCheck", true);
  return e.env()->pending ? JNI_TRUE : JNI_FALSE;
}

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject ref) {
  Enter e(env, "NewGlobalRef");
  Object* o = vm().deref(env, ref, "NewGlobalRef");
  if (!o) return nullptr;
  g_refs.push_back(Ref{o, RefKind::kGlobal, true, nullptr});
  g_known_refs.insert(&g_refs.back());
  ++VmAccess::accounts().globalsMade;
  ++VmAccess::accounts().globalsLive;
  return reinterpret_cast<jobject>(&g_refs.back());
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject ref) {
  Enter e(env, "DeleteGlobalRef", true);
  if (!ref) return;
  auto* r = reinterpret_cast<Ref*>(ref);
  if (!g_known_refs.count(r) || r->kind != RefKind::kGlobal || !r->live) {
    vm().violation("DeleteGlobalRef: not a live global reference");
    return;
  }
  r->live = false;
  --VmAccess::accounts().globalsLive;
}

jweak JNICALL NewWeakGlobalRef(JNIEnv* env, jobject ref) {
  Enter e(env, "NewWeakGlobalRef");
  Object* o = vm().deref(env, ref, "NewWeakGlobalRef");
  if (!o) return nullptr;
  g_refs.push_back(Ref{o, RefKind::kWeak, true, nullptr});
  g_known_refs.insert(&g_refs.back());
  ++VmAccess::accounts().weaksLive;
  return reinterpret_cast<jweak>(&g_refs.back());
}

void JNICALL DeleteWeakGlobalRef(JNIEnv* env, jweak ref) {
  Enter e(env, "DeleteWeakGlobalRef", true);
  if (!ref) return;
  auto* r = reinterpret_cast<Ref*>(ref);
  if (!g_known_refs.count(r) || r->kind != RefKind::kWeak || !r->live) {
    vm().violation("DeleteWeakGlobalRef: not a live weak global reference");
    return;
  }
  r->live = false;
  --VmAccess::accounts().weaksLive;
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject ref) {
  Enter e(env, "DeleteLocalRef", true);
  if (!ref) return;
  auto* r = reinterpret_cast<Ref*>(ref);
  if (!g_known_refs.count(r) || r->kind != RefKind::kLocal || !r->live || r->owner != e.env()) {
    vm().violation("DeleteLocalRef: not a live local reference of this thread");
    return;
  }
  r->live = false;
}

jboolean JNICALL IsSameObject(JNIEnv* env, jobject a, jobject b) {
  Enter e(env, "IsSameObject");
  return vm().deref(env, a, "IsSameObject") == vm().deref(env, b, "IsSameObject") ? JNI_TRUE
                                                                                  : JNI_FALSE;
}

jobject JNICALL NewLocalRef(JNIEnv* env, jobject ref) {
  Enter e(env, "NewLocalRef");
  Object* o = vm().deref(env, ref, "NewLocalRef");
  return o ? vm().local(env, o) : nullptr;
}

jint JNICALL EnsureLocalCapacity(JNIEnv* env, jint) {
  Enter e(env, "EnsureLocalCapacity");
  return JNI_OK;
}

jobject JNICALL AllocObject(JNIEnv* env, jclass c) {
  Enter e(env, "AllocObject");
  Class* cls = class_of(env, c, "AllocObject");
  return cls ? vm().local(env, vm().new_object(cls)) : nullptr;
}

// The C++ JNIEnv methods call the va_list forms (NewObjectV, Call*MethodV);
// the variadic forms are there for C callers.
jobject JNICALL NewObjectV(JNIEnv* env, jclass c, jmethodID id, va_list ap) {
  Enter e(env, "NewObject");
  Class* cls = class_of(env, c, "NewObject");
  const Method* m = method_of(id, "NewObject");
  if (!cls || !m) return nullptr;
  if (m->name != "<init>" || m->owner != cls) {
    vm().violation("NewObject: not a constructor of " + cls->name);
    return nullptr;
  }
  Object* o = vm().new_object(cls);
  invoke(e.env(), o, m, ap, "NewObject");
  return e.env()->pending ? nullptr : vm().local(env, o);
}

jobject JNICALL NewObject(JNIEnv* env, jclass c, jmethodID id, ...) {
  va_list ap;
  va_start(ap, id);
  jobject o = NewObjectV(env, c, id, ap);
  va_end(ap);
  return o;
}

jclass JNICALL GetObjectClass(JNIEnv* env, jobject obj) {
  Enter e(env, "GetObjectClass");
  Object* o = vm().deref(env, obj, "GetObjectClass");
  if (!o) {
    vm().violation("GetObjectClass: null object");
    return nullptr;
  }
  return static_cast<jclass>(vm().local(env, o->cls->mirror));
}

jboolean JNICALL IsInstanceOf(JNIEnv* env, jobject obj, jclass c) {
  Enter e(env, "IsInstanceOf");
  Object* o = vm().deref(env, obj, "IsInstanceOf");
  Class* cls = class_of(env, c, "IsInstanceOf");
  if (!cls) return JNI_FALSE;
  return !o || o->cls->is_subclass_of(cls) ? JNI_TRUE : JNI_FALSE;
}

jmethodID lookup_method(JNIEnv* env, jclass c, const char* name, const char* sig, bool isStatic,
                        const char* function) {
  Enter e(env, function);
  Class* cls = class_of(env, c, function);
  if (!cls || !name || !sig) return nullptr;
  const Method* m = cls->find_method(name, sig, isStatic);
  if (!m || (std::strcmp(name, "<init>") == 0 && m->owner != cls)) {
    throw_in(e.env(), "java/lang/NoSuchMethodError", name);
    return nullptr;
  }
  return reinterpret_cast<jmethodID>(const_cast<Method*>(m));
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass c, const char* name, const char* sig) {
  return lookup_method(env, c, name, sig, false, "GetMethodID");
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass c, const char* name, const char* sig) {
  return lookup_method(env, c, name, sig, true, "GetStaticMethodID");
}

// The receiver and method of an instance call, checked.
const Method* instance_call(JNIEnv* env, jobject obj, jmethodID id, char result, Object** self,
                            const char* function) {
  *self = vm().deref(env, obj, function);
  const Method* m = method_of(id, function);
  if (!m) return nullptr;
  if (m->isStatic) {
    vm().violation(std::string(function) + ": static method " + m->name);
    return nullptr;
  }
  if (m->sig.back() != result && !(result == 'L' && (m->sig.back() == ';'))) {
    vm().violation(std::string(function) + ": " + m->name + m->sig + " has another result type");
    return nullptr;
  }
  return m;
}

jint JNICALL CallIntMethodV(JNIEnv* env, jobject obj, jmethodID id, va_list ap) {
  Enter e(env, "CallIntMethod");
  Object* self = nullptr;
  const Method* m = instance_call(env, obj, id, 'I', &self, "CallIntMethod");
  return invoke(e.env(), self, m, ap, "CallIntMethod").i;
}

jint JNICALL CallIntMethod(JNIEnv* env, jobject obj, jmethodID id, ...) {
  va_list ap;
  va_start(ap, id);
  const jint r = CallIntMethodV(env, obj, id, ap);
  va_end(ap);
  return r;
}

void JNICALL CallVoidMethodV(JNIEnv* env, jobject obj, jmethodID id, va_list ap) {
  Enter e(env, "CallVoidMethod");
  Object* self = nullptr;
  const Method* m = instance_call(env, obj, id, 'V', &self, "CallVoidMethod");
  invoke(e.env(), self, m, ap, "CallVoidMethod");
}

void JNICALL CallVoidMethod(JNIEnv* env, jobject obj, jmethodID id, ...) {
  va_list ap;
  va_start(ap, id);
  CallVoidMethodV(env, obj, id, ap);
  va_end(ap);
}

jobject JNICALL CallObjectMethodV(JNIEnv* env, jobject obj, jmethodID id, va_list ap) {
  Enter e(env, "CallObjectMethod");
  Object* self = nullptr;
  const Method* m = instance_call(env, obj, id, 'L', &self, "CallObjectMethod");
  return invoke(e.env(), self, m, ap, "CallObjectMethod").l;
}

jobject JNICALL CallObjectMethod(JNIEnv* env, jobject obj, jmethodID id, ...) {
  va_list ap;
  va_start(ap, id);
  const jobject r = CallObjectMethodV(env, obj, id, ap);
  va_end(ap);
  return r;
}

jobject JNICALL CallStaticObjectMethodV(JNIEnv* env, jclass c, jmethodID id, va_list ap) {
  Enter e(env, "CallStaticObjectMethod");
  Class* cls = class_of(env, c, "CallStaticObjectMethod");
  const Method* m = method_of(id, "CallStaticObjectMethod");
  if (!cls || !m) return nullptr;
  if (!m->isStatic || !cls->is_subclass_of(m->owner)) {
    vm().violation("CallStaticObjectMethod: " + m->name + " is not a static method of " +
                   cls->name);
    return nullptr;
  }
  return invoke(e.env(), nullptr, m, ap, "CallStaticObjectMethod").l;
}

jobject JNICALL CallStaticObjectMethod(JNIEnv* env, jclass c, jmethodID id, ...) {
  va_list ap;
  va_start(ap, id);
  jobject r = CallStaticObjectMethodV(env, c, id, ap);
  va_end(ap);
  return r;
}

jfieldID JNICALL GetFieldID(JNIEnv* env, jclass c, const char* name, const char* sig) {
  Enter e(env, "GetFieldID");
  Class* cls = class_of(env, c, "GetFieldID");
  if (!cls || !name || !sig) return nullptr;
  const Field* f = cls->find_field(name);
  if (!f || f->sig != sig) {
    throw_in(e.env(), "java/lang/NoSuchFieldError", name);
    return nullptr;
  }
  return reinterpret_cast<jfieldID>(const_cast<Field*>(f));
}

// The object and field of an int field access, checked.
bool int_field(JNIEnv* env, jobject obj, jfieldID id, Object** o, const Field** f,
               const char* function) {
  *o = vm().deref(env, obj, function);
  *f = field_of(id, function);
  if (!*o || !*f) {
    if (!*o) vm().violation(std::string(function) + ": null object");
    return false;
  }
  if (!(*o)->cls->is_subclass_of((*f)->owner) || (*f)->sig != "I") {
    vm().violation(std::string(function) + ": " + (*f)->name + " is not an int field of " +
                   (*o)->cls->name);
    return false;
  }
  return true;
}

jint JNICALL GetIntField(JNIEnv* env, jobject obj, jfieldID id) {
  Enter e(env, "GetIntField");
  Object* o;
  const Field* f;
  if (!int_field(env, obj, id, &o, &f, "GetIntField")) return 0;
  auto it = o->ints.find(f);
  return it == o->ints.end() ? 0 : it->second;
}

void JNICALL SetIntField(JNIEnv* env, jobject obj, jfieldID id, jint value) {
  Enter e(env, "SetIntField");
  Object* o;
  const Field* f;
  if (!int_field(env, obj, id, &o, &f, "SetIntField")) return;
  o->ints[f] = value;
}

jstring JNICALL NewString(JNIEnv* env, const jchar* chars, jsize len) {
  Enter e(env, "NewString");
  if (len < 0 || (len > 0 && !chars)) {
    vm().violation("NewString: bad characters");
    return nullptr;
  }
  std::u16string s(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(len));
  return static_cast<jstring>(vm().local(env, vm().new_string(s)));
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring str) {
  Enter e(env, "GetStringLength");
  Object* s = string_of(env, str, "GetStringLength");
  return s ? static_cast<jsize>(s->chars.size()) : 0;
}

const jchar* JNICALL GetStringChars(JNIEnv* env, jstring str, jboolean* isCopy) {
  Enter e(env, "GetStringChars");
  Object* s = string_of(env, str, "GetStringChars");
  if (!s) return nullptr;
  auto* copy = new jchar[s->chars.size() + 1];
  std::memcpy(copy, s->chars.data(), s->chars.size() * sizeof(jchar));
  copy[s->chars.size()] = 0;
  g_chars[copy] = s;
  ++VmAccess::accounts().charsOutstanding;
  if (isCopy) *isCopy = JNI_TRUE;
  return copy;
}

void JNICALL ReleaseStringChars(JNIEnv* env, jstring str, const jchar* chars) {
  Enter e(env, "ReleaseStringChars", true);
  auto it = g_chars.find(chars);
  if (it == g_chars.end() || it->second != vm().deref(env, str, "ReleaseStringChars")) {
    vm().violation("ReleaseStringChars: characters not from GetStringChars of this string");
    return;
  }
  g_chars.erase(it);
  --VmAccess::accounts().charsOutstanding;
  delete[] chars;
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* utf) {
  Enter e(env, "NewStringUTF");
  if (!utf) return nullptr;
  return static_cast<jstring>(vm().local(env, vm().new_string(from_modified_utf8(utf))));
}

jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring str) {
  Enter e(env, "GetStringUTFLength");
  Object* s = string_of(env, str, "GetStringUTFLength");
  return s ? static_cast<jsize>(to_modified_utf8(s->chars).size()) : 0;
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring str, jboolean* isCopy) {
  Enter e(env, "GetStringUTFChars");
  Object* s = string_of(env, str, "GetStringUTFChars");
  if (!s) return nullptr;
  const std::string utf = to_modified_utf8(s->chars);
  auto* copy = new char[utf.size() + 1];
  std::memcpy(copy, utf.c_str(), utf.size() + 1);
  g_chars[copy] = s;
  ++VmAccess::accounts().charsOutstanding;
  if (isCopy) *isCopy = JNI_TRUE;
  return copy;
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring str, const char* chars) {
  Enter e(env, "ReleaseStringUTFChars", true);
  auto it = g_chars.find(chars);
  if (it == g_chars.end() || it->second != vm().deref(env, str, "ReleaseStringUTFChars")) {
    vm().violation("ReleaseStringUTFChars: characters not from GetStringUTFChars of this string");
    return;
  }
  g_chars.erase(it);
  --VmAccess::accounts().charsOutstanding;
  delete[] chars;
}

void JNICALL GetStringRegion(JNIEnv* env, jstring str, jsize start, jsize len, jchar* buf) {
  Enter e(env, "GetStringRegion");
  Object* s = string_of(env, str, "GetStringRegion");
  if (!s ||
      !in_bounds(e.env(), s->chars.size(), start, len, "java/lang/StringIndexOutOfBoundsException"))
    return;
  std::memcpy(buf, s->chars.data() + start, static_cast<size_t>(len) * sizeof(jchar));
}

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
  Enter e(env, "GetArrayLength");
  Object* a = array_of(env, array, "GetArrayLength");
  if (!a) return 0;
  return static_cast<jsize>(a->cls->name == "[B" ? a->bytes.size() : a->elements.size());
}

jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize len, jclass element, jobject init) {
  Enter e(env, "NewObjectArray");
  Class* cls = class_of(env, element, "NewObjectArray");
  if (!cls || len < 0) return nullptr;
  const std::string name = "[L" + cls->name + ";";
  Class* arrayClass = vm().find(name);
  if (!arrayClass) arrayClass = &vm().define(name.c_str(), "java/lang/Object");
  Object* a = vm().new_object(arrayClass);
  a->elements.assign(static_cast<size_t>(len), vm().deref(env, init, "NewObjectArray"));
  return static_cast<jobjectArray>(vm().local(env, a));
}

jobject JNICALL GetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
  Enter e(env, "GetObjectArrayElement");
  Object* a = array_of(env, array, "GetObjectArrayElement");
  if (!a ||
      !in_bounds(e.env(), a->elements.size(), index, 1, "java/lang/ArrayIndexOutOfBoundsException"))
    return nullptr;
  Object* o = a->elements[static_cast<size_t>(index)];
  return o ? vm().local(env, o) : nullptr;
}

void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
  Enter e(env, "SetObjectArrayElement");
  Object* a = array_of(env, array, "SetObjectArrayElement");
  if (!a ||
      !in_bounds(e.env(), a->elements.size(), index, 1, "java/lang/ArrayIndexOutOfBoundsException"))
    return;
  a->elements[static_cast<size_t>(index)] = vm().deref(env, value, "SetObjectArrayElement");
}

jbyteArray JNICALL NewByteArray(JNIEnv* env, jsize len) {
  Enter e(env, "NewByteArray");
  if (len < 0) return nullptr;
  Object* a = vm().new_object(vm().find("[B"));
  a->bytes.assign(static_cast<size_t>(len), 0);
  return static_cast<jbyteArray>(vm().local(env, a));
}

void JNICALL GetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len, jbyte* buf) {
  Enter e(env, "GetByteArrayRegion");
  Object* a = array_of(env, array, "GetByteArrayRegion");
  if (!a ||
      !in_bounds(e.env(), a->bytes.size(), start, len, "java/lang/ArrayIndexOutOfBoundsException"))
    return;
  std::memcpy(buf, a->bytes.data() + start, static_cast<size_t>(len));
}

void JNICALL SetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len,
                                const jbyte* buf) {
  Enter e(env, "SetByteArrayRegion");
  Object* a = array_of(env, array, "SetByteArrayRegion");
  if (!a ||
      !in_bounds(e.env(), a->bytes.size(), start, len, "java/lang/ArrayIndexOutOfBoundsException"))
    return;
  std::memcpy(a->bytes.data() + start, buf, static_cast<size_t>(len));
}

jint JNICALL GetJavaVM(JNIEnv* env, JavaVM** out) {
  Enter e(env, "GetJavaVM");
  *out = &g_java_vm;
  return JNI_OK;
}

// ---- the invocation interface ----

jint JNICALL DestroyJavaVM(JavaVM*) { return JNI_ERR; }

Env* new_env() {
  g_envs.emplace_back();
  Env* env = &g_envs.back();
  env->jni.functions = &g_functions;
  env->thread = std::this_thread::get_id();
  env->frames.emplace_back();
  return env;
}

jint attach(void** penv, bool daemon) {
  std::lock_guard<std::recursive_mutex> hold(vm().lock());
  if (!t_env) {
    t_env = new_env();
    Accounts& a = VmAccess::accounts();
    ++a.attaches;
    if (daemon) ++a.daemonAttaches;
    ++a.threadsAttached;
  }
  *penv = t_env;
  return JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM*, void** penv, void*) { return attach(penv, false); }
jint JNICALL AttachCurrentThreadAsDaemon(JavaVM*, void** penv, void*) { return attach(penv, true); }

jint JNICALL DetachCurrentThread(JavaVM*) {
  std::lock_guard<std::recursive_mutex> hold(vm().lock());
  if (!t_env) return JNI_OK;
  if (t_env == g_main) {
    vm().violation("DetachCurrentThread: the main thread");
    return JNI_ERR;
  }
  for (auto& frame : t_env->frames)
    for (Ref* r : frame) r->live = false;
  t_env->frames.clear();
  t_env->attached = false;
  t_env = nullptr;
  Accounts& a = VmAccess::accounts();
  ++a.detaches;
  --a.threadsAttached;
  return JNI_OK;
}

jint JNICALL GetEnv(JavaVM*, void** penv, jint version) {
  if (version < JNI_VERSION_1_1 || version > 0x00150000) {
    *penv = nullptr;
    return JNI_EVERSION;
  }
  *penv = t_env;
  return t_env ? JNI_OK : JNI_EDETACHED;
}

// A JNI function the host does not provide: the run cannot go on.
void unimplemented(size_t slot) {
  std::printf(
      "FAIL the bridge called JNI function %u (the index in JNINativeInterface_, "
      "GetVersion being 4), which the test host lacks\n",
      static_cast<unsigned>(slot));
  std::fflush(stdout);
  std::_Exit(3);
}

template <size_t N>
void JNICALL unimplemented_slot() {
  unimplemented(N);
}

template <size_t... I>
void fill_unimplemented(std::index_sequence<I...>) {
  void* traps[] = {reinterpret_cast<void*>(&unimplemented_slot<I>)...};
  auto* slots = reinterpret_cast<unsigned char*>(&g_functions);
  for (size_t i = 4; i < sizeof...(I); ++i) {
    void* p;
    std::memcpy(&p, slots + i * sizeof(void*), sizeof p);
    if (!p) std::memcpy(slots + i * sizeof(void*), &traps[i], sizeof p);
  }
}

void fill_tables() {
  JNINativeInterface_& f = g_functions;
  f.GetVersion = GetVersion;
  f.FindClass = FindClass;
  f.Throw = Throw;
  f.ThrowNew = ThrowNew;
  f.ExceptionOccurred = ExceptionOccurred;
  f.ExceptionDescribe = ExceptionDescribe;
  f.ExceptionClear = ExceptionClear;
  f.ExceptionCheck = ExceptionCheck;
  f.NewGlobalRef = NewGlobalRef;
  f.DeleteGlobalRef = DeleteGlobalRef;
  f.DeleteLocalRef = DeleteLocalRef;
  f.NewWeakGlobalRef = NewWeakGlobalRef;
  f.DeleteWeakGlobalRef = DeleteWeakGlobalRef;
  f.IsSameObject = IsSameObject;
  f.NewLocalRef = NewLocalRef;
  f.EnsureLocalCapacity = EnsureLocalCapacity;
  f.AllocObject = AllocObject;
  f.NewObject = NewObject;
  f.NewObjectV = NewObjectV;
  f.GetObjectClass = GetObjectClass;
  f.IsInstanceOf = IsInstanceOf;
  f.GetMethodID = GetMethodID;
  f.CallObjectMethod = CallObjectMethod;
  f.CallObjectMethodV = CallObjectMethodV;
  f.CallIntMethod = CallIntMethod;
  f.CallIntMethodV = CallIntMethodV;
  f.CallVoidMethod = CallVoidMethod;
  f.CallVoidMethodV = CallVoidMethodV;
  f.GetFieldID = GetFieldID;
  f.GetIntField = GetIntField;
  f.SetIntField = SetIntField;
  f.GetStaticMethodID = GetStaticMethodID;
  f.CallStaticObjectMethod = CallStaticObjectMethod;
  f.CallStaticObjectMethodV = CallStaticObjectMethodV;
  f.NewString = NewString;
  f.GetStringLength = GetStringLength;
  f.GetStringChars = GetStringChars;
  f.ReleaseStringChars = ReleaseStringChars;
  f.NewStringUTF = NewStringUTF;
  f.GetStringUTFLength = GetStringUTFLength;
  f.GetStringUTFChars = GetStringUTFChars;
  f.ReleaseStringUTFChars = ReleaseStringUTFChars;
  f.GetArrayLength = GetArrayLength;
  f.NewObjectArray = NewObjectArray;
  f.GetObjectArrayElement = GetObjectArrayElement;
  f.SetObjectArrayElement = SetObjectArrayElement;
  f.NewByteArray = NewByteArray;
  f.GetByteArrayRegion = GetByteArrayRegion;
  f.SetByteArrayRegion = SetByteArrayRegion;
  f.GetStringRegion = GetStringRegion;
  f.GetJavaVM = GetJavaVM;
  fill_unimplemented(std::make_index_sequence<sizeof(JNINativeInterface_) / sizeof(void*)>{});

  g_invoke.DestroyJavaVM = DestroyJavaVM;
  g_invoke.AttachCurrentThread = AttachCurrentThread;
  g_invoke.DetachCurrentThread = DetachCurrentThread;
  g_invoke.GetEnv = GetEnv;
  g_invoke.AttachCurrentThreadAsDaemon = AttachCurrentThreadAsDaemon;
}

}  // namespace

// ---- Call, Class, Object ----

Object* Call::obj(size_t i) const { return vm().deref(env, args.at(i).l, "argument"); }

jvalue Call::ret(Object* o) const {
  jvalue v{};
  v.l = o ? vm().local(env, o) : nullptr;
  return v;
}

void Call::throw_new(const char* slashClass, const char* message) const {
  vm().set_pending(env, vm().make_throwable(slashClass, message));
}

Class& Class::field(const char* fieldName, const char* fieldSig) {
  fields.push_back(Field{this, fieldName, fieldSig});
  g_known_fields.insert(&fields.back());
  return *this;
}

Class& Class::method(const char* methodName, const char* methodSig, Body body) {
  methods.push_back(Method{this, methodName, methodSig, false, std::move(body)});
  g_known_methods.insert(&methods.back());
  return *this;
}

Class& Class::static_method(const char* methodName, const char* methodSig, Body body) {
  methods.push_back(Method{this, methodName, methodSig, true, std::move(body)});
  g_known_methods.insert(&methods.back());
  return *this;
}

bool Class::is_subclass_of(const Class* other) const {
  for (const Class* c = this; c; c = c->super)
    if (c == other) return true;
  return false;
}

const Field* Class::find_field(const std::string& fieldName) const {
  for (const Class* c = this; c; c = c->super)
    for (const Field& f : c->fields)
      if (f.name == fieldName) return &f;
  return nullptr;
}

const Method* Class::find_method(const std::string& methodName, const std::string& methodSig,
                                 bool isStatic) const {
  for (const Class* c = this; c; c = c->super) {
    for (const Method& m : c->methods)
      if (m.name == methodName && m.sig == methodSig && m.isStatic == isStatic) return &m;
    if (methodName == "<init>") break;  // constructors are not inherited
  }
  return nullptr;
}

jint Object::get_int(const char* fieldName) const {
  const Field* f = cls->find_field(fieldName);
  auto it = f ? ints.find(f) : ints.end();
  return it == ints.end() ? 0 : it->second;
}

void Object::set_int(const char* fieldName, jint v) {
  if (const Field* f = cls->find_field(fieldName)) ints[f] = v;
}

Object* Object::get_obj(const char* fieldName) const {
  const Field* f = cls->find_field(fieldName);
  auto it = f ? objects.find(f) : objects.end();
  return it == objects.end() ? nullptr : it->second;
}

void Object::set_obj(const char* fieldName, Object* o) {
  if (const Field* f = cls->find_field(fieldName)) objects[f] = o;
}

// ---- Vm ----

Vm& Vm::instance() {
  static Vm* v = new Vm;  // never destroyed: threads may still call in at exit
  return *v;
}

Vm::Vm() {
  fill_tables();
  define("java/lang/Object", nullptr);
  define("java/lang/Class", "java/lang/Object");
  for (Class& c : classStore_) c.mirror->cls = find("java/lang/Class");
  define("java/lang/String", "java/lang/Object");
  define("[B", "java/lang/Object");
  g_main = new_env();
  t_env = g_main;
}

Class& Vm::define(const char* name, const char* super) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  classStore_.emplace_back();
  Class& c = classStore_.back();
  c.name = name;
  c.super = super ? find(super) : nullptr;
  if (super && !c.super) std::abort();  // superclasses come first
  objects_.emplace_back();
  c.mirror = &objects_.back();
  c.mirror->cls = find("java/lang/Class");  // null while that is being defined
  c.mirror->mirrorOf = &c;
  classes_[name] = &c;
  return c;
}

Class* Vm::find(const std::string& name) const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto it = classes_.find(name);
  return it == classes_.end() ? nullptr : it->second;
}

Object* Vm::new_object(Class* cls) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  objects_.emplace_back();
  objects_.back().cls = cls;
  return &objects_.back();
}

Object* Vm::new_string(const std::u16string& s) {
  Object* o = new_object(find("java/lang/String"));
  o->chars = s;
  return o;
}

Object* Vm::new_string(const char* ascii) { return new_string(from_modified_utf8(ascii)); }

std::string Vm::utf8(const Object* s) const {
  if (!s) return "null";
  std::string out;
  for (size_t i = 0; i < s->chars.size(); ++i) {
    unsigned c = s->chars[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s->chars.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s->chars[++i] - 0xDC00);
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

Object* Vm::deref(JNIEnv* env, jobject ref, const char* function) {
  if (!ref) return nullptr;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto* r = reinterpret_cast<Ref*>(ref);
  if (!g_known_refs.count(r)) {
    violation(std::string(function) + ": not a reference");
    return nullptr;
  }
  if (!r->live) {
    violation(std::string(function) + ": deleted reference");
    return nullptr;
  }
  if (r->kind == RefKind::kLocal && r->owner != as_env(env)) {
    violation(std::string(function) + ": local reference of another thread or frame owner");
    return nullptr;
  }
  return r->obj;
}

jobject Vm::local(JNIEnv* env, Object* o) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  Env* e = as_env(env);
  g_refs.push_back(Ref{o, RefKind::kLocal, true, e});
  g_known_refs.insert(&g_refs.back());
  if (e->frames.empty()) e->frames.emplace_back();
  e->frames.back().push_back(&g_refs.back());
  return reinterpret_cast<jobject>(&g_refs.back());
}

void Vm::push_frame(JNIEnv* env) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  as_env(env)->frames.emplace_back();
}

jobject Vm::pop_frame(JNIEnv* env, jobject result) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  Env* e = as_env(env);
  Object* kept = result ? deref(env, result, "native result") : nullptr;
  if (e->frames.size() > 1) {
    for (Ref* r : e->frames.back()) r->live = false;
    e->frames.pop_back();
  }
  return kept ? local(env, kept) : nullptr;
}

JNIEnv* Vm::main_env() const { return &g_main->jni; }
JavaVM* Vm::java_vm() { return &g_java_vm; }

Object* Vm::pending(JNIEnv* env) const { return as_env(env)->pending; }
void Vm::clear_pending(JNIEnv* env) { as_env(env)->pending = nullptr; }
void Vm::set_pending(JNIEnv* env, Object* throwable) { as_env(env)->pending = throwable; }

Object* Vm::make_throwable(const char* slashClass, const std::string& message) {
  Class* cls = find(slashClass);
  if (!cls) cls = find("java/lang/Throwable");
  Object* t = new_object(cls);
  t->message = message;
  return t;
}

Accounts Vm::accounts() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return accounts_;
}

std::vector<std::string> Vm::violations() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return violations_;
}

void Vm::violation(const std::string& what) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  violations_.push_back(what);
}

}  // namespace mjvm

extern "C" jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize size, jsize* count) {
  if (count) *count = 1;
  if (vms && size > 0) vms[0] = mjvm::Vm::instance().java_vm();
  return JNI_OK;
}
