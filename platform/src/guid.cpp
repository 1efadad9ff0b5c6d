// Interface identifiers and the text form of GUIDs.
#include "internal.h"

#include <cstdio>

const IID IID_NULL = {0x00000000, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IConnectionPointContainer = {
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumConnectionPoints = {
    0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IConnectionPoint = {
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumConnections = {
    0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

namespace jtzcom {

std::string guid_text(REFGUID g) {
  char text[39];
  // NOLINTNEXTLINE(cert-err33-c): the text always fits; the length is not needed.
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

}  // namespace jtzcom

JTZCOM_API int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  const std::string text = jtzcom::guid_text(rguid);
  const int needed = static_cast<int>(text.size()) + 1;
  if (!lpsz || cchMax < needed) return 0;
  for (size_t i = 0; i < text.size(); ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
  lpsz[text.size()] = 0;
  return needed;
}

// Only the brace form: there are no program identifiers to look up here.
JTZCOM_API HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
  if (!pclsid) return E_INVALIDARG;
  if (!lpsz) {
    *pclsid = IID_NULL;
    return S_OK;
  }
  size_t length = 0;
  while (lpsz[length]) ++length;
  return jtzcom::parse_guid(lpsz, length, pclsid) ? S_OK : CO_E_CLASSSTRING;
}
