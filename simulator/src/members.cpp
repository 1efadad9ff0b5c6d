#include "members.h"

namespace sim {
namespace {

// VARTYPE of each value kind of the member table.
constexpr VARTYPE kVt_Bool = VT_BOOL;
constexpr VARTYPE kVt_Byte = VT_UI1;
constexpr VARTYPE kVt_Short = VT_I2;
constexpr VARTYPE kVt_Int = VT_I4;
constexpr VARTYPE kVt_MachineInt = VT_INT;
constexpr VARTYPE kVt_Float = VT_R4;
constexpr VARTYPE kVt_String = VT_BSTR;
constexpr VARTYPE kVt_Color = VT_I4;
constexpr VARTYPE kVt_None = VT_EMPTY;
constexpr VARTYPE kVt_TxFormBorderStyle = VT_I4;
constexpr VARTYPE kVt_TxEditCharCase = VT_I4;
constexpr VARTYPE kVt_TxDragMode = VT_I4;
constexpr VARTYPE kVt_TxImeMode = VT_I4;

#define SIM_VT(Kind) kVt_##Kind

const MemberInfo kMembers[] = {
#define PROPERTY(Name, Dispid, Kind) \
  {#Name, Dispid, true, true, false, SIM_VT(Kind), VT_EMPTY, 0, {VT_EMPTY, VT_EMPTY}},
#define GETTER(Name, Dispid, Kind) \
  {#Name, Dispid, true, false, false, SIM_VT(Kind), VT_EMPTY, 0, {VT_EMPTY, VT_EMPTY}},
#define SETTER(Name, Dispid, Kind) \
  {#Name, Dispid, false, true, false, SIM_VT(Kind), VT_EMPTY, 0, {VT_EMPTY, VT_EMPTY}},
#define METHOD(Name, Dispid, Result) \
  {#Name, Dispid, false, false, true, VT_EMPTY, SIM_VT(Result), 0, {VT_EMPTY, VT_EMPTY}},
#define METHOD1(Name, Dispid, Result, Arg) \
  {#Name, Dispid, false, false, true, VT_EMPTY, SIM_VT(Result), 1, {SIM_VT(Arg), VT_EMPTY}},
#define METHOD2(Name, Dispid, Result, Arg1, Arg2) \
  {#Name, Dispid, false, false, true, VT_EMPTY, SIM_VT(Result), 2, {SIM_VT(Arg1), SIM_VT(Arg2)}},
#include "members.def"
};

#undef SIM_VT

OLECHAR Fold(OLECHAR c) { return (c >= 'A' && c <= 'Z') ? static_cast<OLECHAR>(c - 'A' + 'a') : c; }

bool SameName(const char* ascii, const OLECHAR* name) {
  for (; *ascii && *name; ++ascii, ++name)
    if (Fold(static_cast<OLECHAR>(*ascii)) != Fold(*name)) return false;
  return *ascii == 0 && *name == 0;
}

}  // namespace

const MemberInfo* MembersBegin() { return kMembers; }
std::size_t MemberCount() { return sizeof(kMembers) / sizeof(kMembers[0]); }

const MemberInfo* FindMember(DISPID dispid) {
  for (const MemberInfo& m : kMembers)
    if (m.dispid == dispid) return &m;
  return nullptr;
}

const MemberInfo* FindMember(const OLECHAR* name) {
  if (!name) return nullptr;
  for (const MemberInfo& m : kMembers)
    if (SameName(m.name, name)) return &m;
  return nullptr;
}

}  // namespace sim
