#include "members.h"

#include <vector>

#include "scanmontura_interface.h"

namespace sim {
namespace {

using scanmontura::Kind;

// A result of VT_VOID leaves the result VARIANT empty.
VARTYPE Carried(VARTYPE vt) { return vt == VT_VOID ? static_cast<VARTYPE>(VT_EMPTY) : vt; }

std::vector<MemberInfo> Gather() {
  std::vector<MemberInfo> members;
  for (const scanmontura::Function& f : scanmontura::kIScanMonturaFunctions) {
    MemberInfo* m = nullptr;
    for (MemberInfo& known : members)
      if (known.dispid == f.dispid) m = &known;
    if (!m) {
      members.push_back(MemberInfo{
          f.name, f.dispid, false, false, false, VT_EMPTY, VT_EMPTY, 0, {VT_EMPTY, VT_EMPTY}});
      m = &members.back();
    }
    switch (f.kind) {
      case Kind::kGet:
        m->canGet = true;
        m->value = f.result.vt;
        break;
      case Kind::kPut:
        m->canPut = true;
        m->value = f.params[0].type.vt;
        break;
      case Kind::kMethod:
        m->isMethod = true;
        m->result = Carried(f.result.vt);
        m->argCount = f.paramCount;
        for (unsigned k = 0; k < f.paramCount && k < 2; ++k) m->args[k] = f.params[k].type.vt;
        break;
    }
  }
  return members;
}

const std::vector<MemberInfo>& Members() {
  static const std::vector<MemberInfo> members = Gather();
  return members;
}

OLECHAR Fold(OLECHAR c) { return (c >= 'A' && c <= 'Z') ? static_cast<OLECHAR>(c - 'A' + 'a') : c; }

}  // namespace

bool SameName(const char* ascii, const OLECHAR* name) {
  for (; *ascii && *name; ++ascii, ++name)
    if (Fold(static_cast<OLECHAR>(*ascii)) != Fold(*name)) return false;
  return *ascii == 0 && *name == 0;
}

const MemberInfo* FindMember(DISPID dispid) {
  for (const MemberInfo& m : Members())
    if (m.dispid == dispid) return &m;
  return nullptr;
}

}  // namespace sim
