// The component's IScanMontura members as Invoke serves them: one entry per
// DISPID, gathered from the component's own description of the interface
// (scanmontura_interface.h), which lists a property's get and put apart.
#pragma once

#include <oaidl.h>

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

// Case-insensitive comparison of an ASCII name with a UTF-16 one.
bool SameName(const char* ascii, const OLECHAR* name);

}  // namespace sim
