// The component's IScanMontura members, built from the bridge's member table
// (members/members.def) so that both sides agree on DISPIDs, shapes and types.
#pragma once

#include <oaidl.h>

#include <cstddef>

namespace sim {

struct MemberInfo {
  const char* name;
  DISPID dispid;
  bool canGet;      // answers DISPATCH_PROPERTYGET
  bool canPut;      // answers DISPATCH_PROPERTYPUT with one value
  bool isMethod;    // answers DISPATCH_METHOD
  VARTYPE value;    // property: type of the value got or put
  VARTYPE result;   // method: type of the result (VT_EMPTY: none)
  UINT argCount;    // method: number of parameters
  VARTYPE args[2];  // method: parameter types in declaration order (rgvarg holds them last-first)
};

// nullptr for DISPIDs that are no member.
const MemberInfo* FindMember(DISPID dispid);
// Case-insensitive lookup by member name; nullptr when unknown.
const MemberInfo* FindMember(const OLECHAR* name);

const MemberInfo* MembersBegin();
std::size_t MemberCount();

}  // namespace sim
