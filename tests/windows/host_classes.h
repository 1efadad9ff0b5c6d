// The Java classes that the bridge and the runtime library touch by name, as
// the Windows test host's VM provides them, and a test listener that records
// what reaches it.
//
//   wh::define_classes(mjvm::Vm::instance());
//   ... fire events ...
//   for (const wh::Delivery& d : wh::recorder().take()) ...
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mini_jvm.h"

namespace wh {

// One call that reached a Java method of the host: "OnKeyPress 97",
// "JComOnEventError OnDblClick Unable to locate method",
// "server-side puente.IScanMonturaEvents OnClick 0", and the thread it came on.
struct Delivery {
  std::string what;
  std::thread::id thread;
  unsigned long threadId;  // the Windows thread identifier
};

class Recorder {
 public:
  void add(std::string what);
  std::vector<Delivery> take();  // what was recorded so far; empties the record

 private:
  std::mutex lock_;
  std::vector<Delivery> deliveries_;
};

Recorder& recorder();

// The test listener, a subclass of puente.IScanMonturaEvents: it has OnChange,
// OnClick and OnKeyPress (which turns a lower-case letter into upper case,
// swallows 'x' by setting the key to 0 and throws IllegalStateException for
// '#'), JComOnEventError and JComOnEventException, and no OnDblClick.
inline constexpr char kListenerClass[] = "jtztest/WineListener";

void define_classes(mjvm::Vm& vm);

// The constant of a puente enumeration class ("puente/TxDragMode") for a value.
mjvm::Object* enum_constant(const char* slashClass, int value);

// A new java.awt.Color of the given components (0..255).
mjvm::Object* new_color(int red, int green, int blue);

}  // namespace wh
