// OLE_COLOR to COLORREF.
//
// An OLE_COLOR with high byte 0 is a COLORREF (0x00BBGGRR). High byte 0x80
// marks a system colour whose index is in the low byte; there is no desktop
// here, so the system colours are the defaults of the Windows 2000 "Windows
// Standard" scheme, the classic table (indexes COLOR_SCROLLBAR 0 to
// COLOR_MENUBAR 30). A palette-relative RGB (0x02BBGGRR) and a palette index
// (0x0100IIII) pass through unchanged, as Windows passes them. No palettes
// exist here: with a palette handle, no palette index is valid.
#include <posixcom/com.h>

namespace {

constexpr COLORREF rgb(unsigned r, unsigned g, unsigned b) { return r | g << 8 | b << 16; }

constexpr COLORREF kSystemColors[] = {
    rgb(212, 208, 200),  //  0 COLOR_SCROLLBAR
    rgb(58, 110, 165),   //  1 COLOR_BACKGROUND
    rgb(10, 36, 106),    //  2 COLOR_ACTIVECAPTION
    rgb(128, 128, 128),  //  3 COLOR_INACTIVECAPTION
    rgb(212, 208, 200),  //  4 COLOR_MENU
    rgb(255, 255, 255),  //  5 COLOR_WINDOW
    rgb(0, 0, 0),        //  6 COLOR_WINDOWFRAME
    rgb(0, 0, 0),        //  7 COLOR_MENUTEXT
    rgb(0, 0, 0),        //  8 COLOR_WINDOWTEXT
    rgb(255, 255, 255),  //  9 COLOR_CAPTIONTEXT
    rgb(212, 208, 200),  // 10 COLOR_ACTIVEBORDER
    rgb(212, 208, 200),  // 11 COLOR_INACTIVEBORDER
    rgb(128, 128, 128),  // 12 COLOR_APPWORKSPACE
    rgb(10, 36, 106),    // 13 COLOR_HIGHLIGHT
    rgb(255, 255, 255),  // 14 COLOR_HIGHLIGHTTEXT
    rgb(212, 208, 200),  // 15 COLOR_BTNFACE
    rgb(128, 128, 128),  // 16 COLOR_BTNSHADOW
    rgb(128, 128, 128),  // 17 COLOR_GRAYTEXT
    rgb(0, 0, 0),        // 18 COLOR_BTNTEXT
    rgb(212, 208, 200),  // 19 COLOR_INACTIVECAPTIONTEXT
    rgb(255, 255, 255),  // 20 COLOR_BTNHIGHLIGHT
    rgb(64, 64, 64),     // 21 COLOR_3DDKSHADOW
    rgb(212, 208, 200),  // 22 COLOR_3DLIGHT
    rgb(0, 0, 0),        // 23 COLOR_INFOTEXT
    rgb(255, 255, 225),  // 24 COLOR_INFOBK
    rgb(181, 181, 181),  // 25 (no name; the alternate button face)
    rgb(0, 0, 128),      // 26 COLOR_HOTLIGHT
    rgb(166, 202, 240),  // 27 COLOR_GRADIENTACTIVECAPTION
    rgb(192, 192, 192),  // 28 COLOR_GRADIENTINACTIVECAPTION
    rgb(10, 36, 106),    // 29 COLOR_MENUHILIGHT
    rgb(212, 208, 200),  // 30 COLOR_MENUBAR
};

constexpr DWORD kSystemColorCount = sizeof kSystemColors / sizeof kSystemColors[0];

}  // namespace

JTZCOM_API HRESULT OleTranslateColor(OLE_COLOR clr, HPALETTE hpal, COLORREF* lpcolorref) {
  COLORREF result = clr;
  switch (clr >> 24) {
    case 0x00:
    case 0x02: break;
    case 0x01:
      if (hpal) return E_INVALIDARG;
      break;
    case 0x80: {
      const DWORD index = clr & 0x00FFFFFF;
      if (index >= kSystemColorCount) return E_INVALIDARG;
      result = kSystemColors[index];
      break;
    }
    default: return E_INVALIDARG;
  }
  if (lpcolorref) *lpcolorref = result;
  return S_OK;
}
