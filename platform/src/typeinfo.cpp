// The interface identifier of ITypeInfo (posixcom/typeinfo.h).
#include <oaidl.h>

const IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
