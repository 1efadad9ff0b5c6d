// A minimal Java VM for driving the bridge's natives in a Windows test host
// under Wine, where no JVM runs: a JNIEnv function table with the functions
// the bridge and the runtime library use, a JavaVM for attaching threads, and
// classes whose methods are written in C++.
//
// Semantics follow Java where the callers can tell: strings are UTF-16 (with
// modified UTF-8 for the UTF functions), fields are found by class and name
// along the superclass chain, method calls dispatch on the object's class,
// exceptions are pending per thread, failed lookups raise the errors Java
// raises. References are counted and checked the way -Xcheck:jni checks them:
// a JNI call with an exception pending (other than the ones allowed), a
// deleted or foreign reference, an environment used on another thread, an
// unknown jmethodID: each is recorded as a violation. Nothing is collected;
// objects live as long as the VM.
//
//   mjvm::Vm& vm = mjvm::Vm::instance();
//   mjvm::Class& color = vm.define("java/awt/Color", "java/lang/Object");
//   color.field("value", "I").method("getRed", "()I", [](mjvm::Call& c) {
//     return mjvm::Int((c.self->get_int("value") >> 16) & 0xFF); });
//   JNIEnv* env = vm.main_env();
#pragma once

#include <jni.h>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace mjvm {

struct Class;
struct Object;

// One call of a method written in C++. Object arguments are references valid
// for the call; obj() resolves them.
struct Call {
  JNIEnv* env;
  Object* self;  // null for a static method
  std::vector<jvalue> args;
  Object* obj(size_t i) const;
  // A local reference to `o` in the caller's frame, as a result.
  jvalue ret(Object* o) const;
  // Leaves a new exception of the named class pending for the caller.
  void throw_new(const char* slashClass, const char* message) const;
};
using Body = std::function<jvalue(Call&)>;

struct Method {
  Class* owner;
  std::string name;
  std::string sig;
  bool isStatic;
  Body body;
};

struct Field {
  Class* owner;
  std::string name;
  std::string sig;
};

struct Class {
  std::string name;  // slash form
  Class* super = nullptr;
  Object* mirror = nullptr;  // its java/lang/Class object
  std::deque<Method> methods;
  std::deque<Field> fields;

  Class& field(const char* fieldName, const char* fieldSig);
  Class& method(const char* methodName, const char* methodSig, Body body);
  Class& static_method(const char* methodName, const char* methodSig, Body body);
  bool is_subclass_of(const Class* other) const;
  const Field* find_field(const std::string& fieldName) const;
  const Method* find_method(const std::string& methodName, const std::string& methodSig,
                            bool isStatic) const;
};

struct Object {
  Class* cls = nullptr;
  std::map<const Field*, jint> ints;        // int fields
  std::map<const Field*, Object*> objects;  // reference fields
  std::u16string chars;                     // java/lang/String
  std::vector<jbyte> bytes;                 // byte[]
  std::vector<Object*> elements;            // Object[]
  Class* mirrorOf = nullptr;                // java/lang/Class
  std::string message;                      // java/lang/Throwable

  jint get_int(const char* fieldName) const;
  void set_int(const char* fieldName, jint v);
  Object* get_obj(const char* fieldName) const;
  void set_obj(const char* fieldName, Object* o);
};

inline jvalue Int(jint i) {
  jvalue v{};
  v.i = i;
  return v;
}
inline jvalue Void() { return jvalue{}; }

// What the checks read at the end of a run.
struct Accounts {
  long globalsMade = 0;
  long globalsLive = 0;
  long weaksLive = 0;         // weak global references
  long charsOutstanding = 0;  // Get*Chars without their Release*
  long attaches = 0;          // AttachCurrentThread(AsDaemon) of new threads
  long daemonAttaches = 0;
  long detaches = 0;
  long threadsAttached = 0;  // attached now, the main thread not counted
};

class Vm {
 public:
  static Vm& instance();

  // Defines a class; `super` must be defined already (null for java/lang/Object).
  Class& define(const char* name, const char* super);
  Class* find(const std::string& name) const;

  Object* new_object(Class* cls);
  Object* new_string(const std::u16string& s);
  Object* new_string(const char* ascii);
  std::string utf8(const Object* s) const;

  // References: what a jobject stands for (null for null), and new local
  // references in an environment's current frame.
  Object* deref(JNIEnv* env, jobject ref, const char* function);
  jobject local(JNIEnv* env, Object* o);

  // A native's frame: local references made inside it end with it; the result
  // (a local reference or null) is carried over to the frame outside.
  void push_frame(JNIEnv* env);
  jobject pop_frame(JNIEnv* env, jobject result);

  JNIEnv* main_env() const;
  JavaVM* java_vm();

  // The calling thread's pending exception (null for none), and clearing it.
  Object* pending(JNIEnv* env) const;
  void clear_pending(JNIEnv* env);
  void set_pending(JNIEnv* env, Object* throwable);
  Object* make_throwable(const char* slashClass, const std::string& message);

  Accounts accounts() const;
  std::vector<std::string> violations() const;
  void violation(const std::string& what);

  // Serialises every VM operation (recursive: methods written in C++ call
  // back into JNI).
  std::recursive_mutex& lock() { return lock_; }

 private:
  Vm();
  friend struct VmAccess;

  mutable std::recursive_mutex lock_;
  std::map<std::string, Class*> classes_;
  std::deque<Class> classStore_;
  std::deque<Object> objects_;
  std::vector<std::string> violations_;
  Accounts accounts_;
};

}  // namespace mjvm

// The host also exports JNI_GetCreatedJavaVMs, as jvm.dll does, for the
// runtime library to find the VM before any JNIEnv has told it of one: jni.h
// declares it for export when _JNI_IMPLEMENTATION_ is defined, as it is for
// the host.
