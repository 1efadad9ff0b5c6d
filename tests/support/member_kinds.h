// The JNI type of a member table kind, for the tests that look the generated natives up.
#pragma once

#include <string>

namespace jtz::test {

// "Bool" -> "Z", "String" -> "Ljava/lang/String;", an enumeration -> "Lpuente/<kind>;".
inline std::string jni_type(const std::string& kind) {
  if (kind == "Bool") return "Z";
  if (kind == "Byte") return "B";
  if (kind == "Short") return "S";
  if (kind == "Int" || kind == "MachineInt") return "I";
  if (kind == "Float") return "F";
  if (kind == "String") return "Ljava/lang/String;";
  if (kind == "Color") return "Ljava/awt/Color;";
  if (kind == "None") return "V";
  return "Lpuente/" + kind + ";";
}

}  // namespace jtz::test
