#include "host_classes.h"

#include <windows.h>

#include <map>
#include <utility>

namespace wh {
namespace {

using mjvm::Call;
using mjvm::Class;
using mjvm::Int;
using mjvm::Object;
using mjvm::Void;

// The constants of each enumeration class, by value.
std::map<std::string, std::vector<Object*>>& constants() {
  static auto* c = new std::map<std::string, std::vector<Object*>>;
  return *c;
}

// An enumeration class with the constants 0..count-1: value() and the static
// fromValue(int), which throws IllegalArgumentException for any other value.
void define_enumeration(mjvm::Vm& vm, const char* name, int count) {
  Class& cls = vm.define(name, "java/lang/Object");
  cls.field("value", "I");
  std::vector<Object*>& all = constants()[name];
  for (int v = 0; v < count; ++v) {
    Object* constant = vm.new_object(&cls);
    constant->set_int("value", v);
    all.push_back(constant);
  }
  const std::string from_sig = std::string("(I)L") + name + ";";
  const std::string type = name;
  cls.method("value", "()I", [](Call& c) { return Int(c.self->get_int("value")); });
  cls.static_method("fromValue", from_sig.c_str(), [type](Call& c) {
    const std::vector<Object*>& values = constants()[type];
    const jint v = c.args[0].i;
    if (v < 0 || static_cast<size_t>(v) >= values.size()) {
      c.throw_new("java/lang/IllegalArgumentException", "No constant with this value");
      return c.ret(nullptr);
    }
    return c.ret(values[static_cast<size_t>(v)]);
  });
}

std::string key_text(const Object* bytes) {
  if (!bytes || bytes->bytes.empty()) return "none";
  return std::to_string(static_cast<int>(bytes->bytes[0]));
}

}  // namespace

void Recorder::add(std::string what) {
  std::lock_guard<std::mutex> hold(lock_);
  deliveries_.push_back(
      Delivery{std::move(what), std::this_thread::get_id(), GetCurrentThreadId()});
}

std::vector<Delivery> Recorder::take() {
  std::lock_guard<std::mutex> hold(lock_);
  return std::exchange(deliveries_, {});
}

Recorder& recorder() {
  static auto* r = new Recorder;
  return *r;
}

Object* enum_constant(const char* slashClass, int value) {
  return constants()[slashClass].at(static_cast<size_t>(value));
}

Object* new_color(int red, int green, int blue) {
  Object* c = mjvm::Vm::instance().new_object(mjvm::Vm::instance().find("java/awt/Color"));
  c->set_int("value",
             static_cast<jint>(0xFF000000u | static_cast<unsigned>(red) << 16 |
                               static_cast<unsigned>(green) << 8 | static_cast<unsigned>(blue)));
  return c;
}

void define_classes(mjvm::Vm& vm) {
  // Throwables.
  vm.define("java/lang/Throwable", "java/lang/Object");
  vm.define("java/lang/Exception", "java/lang/Throwable");
  vm.define("java/lang/RuntimeException", "java/lang/Exception");
  vm.define("java/lang/Error", "java/lang/Throwable");
  for (const char* name :
       {"java/lang/NullPointerException", "java/lang/IllegalStateException",
        "java/lang/IllegalArgumentException", "java/lang/StringIndexOutOfBoundsException",
        "java/lang/ArrayIndexOutOfBoundsException"})
    vm.define(name, "java/lang/RuntimeException");
  for (const char* name : {"java/lang/NoSuchMethodError", "java/lang/NoSuchFieldError",
                           "java/lang/NoClassDefFoundError"})
    vm.define(name, "java/lang/Error");

  vm.define("java/lang/Integer", "java/lang/Object")
      .field("value", "I")
      .method("<init>", "(I)V",
              [](Call& c) {
                c.self->set_int("value", c.args[0].i);
                return Void();
              })
      .method("intValue", "()I", [](Call& c) { return Int(c.self->get_int("value")); });

  // java.awt.Color keeps 0xAARRGGBB in one int, as Java's does.
  vm.define("java/awt/Color", "java/lang/Object")
      .field("value", "I")
      .method("<init>", "(III)V",
              [](Call& c) {
                for (const jvalue& v : c.args) {
                  if (v.i < 0 || v.i > 255) {
                    c.throw_new("java/lang/IllegalArgumentException",
                                "Color parameter outside of expected range");
                    return Void();
                  }
                }
                c.self->set_int(
                    "value",
                    static_cast<jint>(0xFF000000u | static_cast<unsigned>(c.args[0].i) << 16 |
                                      static_cast<unsigned>(c.args[1].i) << 8 |
                                      static_cast<unsigned>(c.args[2].i)));
                return Void();
              })
      .method("getRed", "()I", [](Call& c) { return Int((c.self->get_int("value") >> 16) & 0xFF); })
      .method("getGreen", "()I",
              [](Call& c) { return Int((c.self->get_int("value") >> 8) & 0xFF); })
      .method("getBlue", "()I", [](Call& c) { return Int(c.self->get_int("value") & 0xFF); });

  // The runtime's classes.
  vm.define("ezjcom/JComObject", "java/lang/Object")
      .field("comId", "I")
      .method("__JComServerSideEvent", "(Ljava/lang/String;Ljava/lang/String;[Ljava/lang/Object;)V",
              [](Call&) { return Void(); });
  vm.define("ezjcom/JComEventListener", "ezjcom/JComObject").field("eventId", "I");
  vm.define("ezjcom/JComException", "java/lang/RuntimeException")
      .field("hResult", "I")
      .field("comSource", "Ljava/lang/String;")
      .field("description", "Ljava/lang/String;")
      .method("<init>", "(ILjava/lang/String;Ljava/lang/String;)V", [](Call& c) {
        c.self->set_int("hResult", c.args[0].i);
        c.self->set_obj("comSource", c.obj(1));
        c.self->set_obj("description", c.obj(2));
        c.self->message = mjvm::Vm::instance().utf8(c.obj(2));
        return Void();
      });

  // The wrappers. ScanMontura records the events of server-side delivery.
  vm.define("puente/ScanMontura", "ezjcom/JComObject")
      .method("__JComServerSideEvent", "(Ljava/lang/String;Ljava/lang/String;[Ljava/lang/Object;)V",
              [](Call& c) {
                mjvm::Vm& v = mjvm::Vm::instance();
                const Object* args = c.obj(2);
                std::string what = "server-side " + v.utf8(c.obj(0)) + ' ' + v.utf8(c.obj(1)) +
                                   ' ' + std::to_string(args ? args->elements.size() : 0);
                if (args)
                  for (const Object* a : args->elements) what += ' ' + key_text(a);
                recorder().add(what);
                return Void();
              });
  vm.define("puente/IScanMontura", "ezjcom/JComObject");
  vm.define("puente/IScanMonturaEvents", "ezjcom/JComEventListener");
  define_enumeration(vm, "puente/TxFormBorderStyle", 6);
  define_enumeration(vm, "puente/TxEditCharCase", 3);
  define_enumeration(vm, "puente/TxDragMode", 2);
  define_enumeration(vm, "puente/TxImeMode", 12);

  vm.define(kListenerClass, "puente/IScanMonturaEvents")
      .method("OnChange", "()V",
              [](Call&) {
                recorder().add("OnChange");
                return Void();
              })
      .method("OnClick", "()V",
              [](Call&) {
                recorder().add("OnClick");
                return Void();
              })
      .method("OnKeyPress", "([B)V",
              [](Call& c) {
                Object* key = c.obj(0);
                recorder().add("OnKeyPress " + key_text(key));
                if (!key || key->bytes.empty()) return Void();
                jbyte& k = key->bytes[0];
                if (k == '#') {
                  c.throw_new("java/lang/IllegalStateException", "the listener refuses #");
                } else if (k == 'x') {
                  k = 0;
                } else if (k >= 'a' && k <= 'z') {
                  k = static_cast<jbyte>(k - 'a' + 'A');
                }
                return Void();
              })
      .method("JComOnEventError", "(Ljava/lang/String;Ljava/lang/String;)V",
              [](Call& c) {
                mjvm::Vm& v = mjvm::Vm::instance();
                recorder().add("JComOnEventError " + v.utf8(c.obj(0)) + ' ' + v.utf8(c.obj(1)));
                return Void();
              })
      .method("JComOnEventException", "(Ljava/lang/String;Ljava/lang/Throwable;)V", [](Call& c) {
        const Object* t = c.obj(1);
        recorder().add("JComOnEventException " + mjvm::Vm::instance().utf8(c.obj(0)) + ' ' +
                       (t ? t->cls->name : std::string("null")));
        return Void();
      });
}

}  // namespace wh
