// Interface identifiers and the text form of GUIDs.
#include "internal.h"

#include <cstdio>
#include <type_traits>

const IID IID_NULL = {0x00000000, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IInitializeSpy = {0x00000034, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
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

JTZCOM_API int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) try {
  const std::string text = jtzcom::guid_text(rguid);
  const int needed = static_cast<int>(text.size()) + 1;
  if (!lpsz || cchMax < needed) return 0;
  for (size_t i = 0; i < text.size(); ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
  lpsz[text.size()] = 0;
  return needed;
} catch (const std::bad_alloc&) {
  return 0;
}

namespace {

int hex_digit(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// Reads "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" into `out` as far as the text
// keeps that form, as Windows does: Data1, Data2 and Data3 take each digit as
// it is read, a Data4 byte is written once both its digits are read, and what
// follows the first character out of place stays as it was. The text is read
// no further than that character, so never past its terminator.
bool parse_clsid(LPCOLESTR s, CLSID* out) {
  size_t i = 1;  // s[0] is the opening brace
  auto field = [&](auto& value, int digits) {
    value = 0;
    for (int k = 0; k < digits; ++k, ++i) {
      const int d = hex_digit(s[i]);
      if (d < 0) return false;
      value = static_cast<std::remove_reference_t<decltype(value)>>(value << 4 | d);
    }
    return true;
  };
  auto dash = [&] { return s[i++] == u'-'; };
  if (!field(out->Data1, 8) || !dash() || !field(out->Data2, 4) || !dash() ||
      !field(out->Data3, 4) || !dash())
    return false;
  for (int b = 0; b < 8; ++b) {
    if (b == 2 && !dash()) return false;
    const int high = hex_digit(s[i]);
    if (high < 0) return false;
    const int low = hex_digit(s[i + 1]);
    if (low < 0) return false;
    out->Data4[b] = static_cast<BYTE>(high << 4 | low);
    i += 2;
  }
  return s[i] == u'}' && s[i + 1] == 0;
}

}  // namespace

// Only the brace form: there are no program identifiers to look up here. Text
// that does not start with a brace leaves CLSID_NULL behind.
JTZCOM_API HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
  if (!pclsid) return E_INVALIDARG;
  if (!lpsz || lpsz[0] != u'{') {
    *pclsid = IID_NULL;
    return lpsz ? CO_E_CLASSSTRING : S_OK;
  }
  return parse_clsid(lpsz, pclsid) ? S_OK : CO_E_CLASSSTRING;
}
