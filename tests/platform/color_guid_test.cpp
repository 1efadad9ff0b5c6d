// Colours, GUID text, interlocked counters and per-thread initialisation.
#include <thread>
#include <vector>

#include "test_util.h"

namespace {

TEST(OleTranslateColor, PlainColorsPassThroughInTheLow24Bits) {
  for (OLE_COLOR c :
       {0x00000000u, 0x000000FFu, 0x0000FF00u, 0x00FF0000u, 0x00123456u, 0x00FFFFFFu}) {
    COLORREF out = 0xDEADBEEF;
    EXPECT_EQ(OleTranslateColor(c, nullptr, &out), S_OK);
    EXPECT_EQ(out, c);
  }
}

TEST(OleTranslateColor, SystemColorsComeFromTheClassicTable) {
  const struct {
    DWORD index;
    COLORREF rgb;
  } cases[] = {
      {5, 0xFFFFFF},   // COLOR_WINDOW
      {8, 0x000000},   // COLOR_WINDOWTEXT
      {15, 0xC8D0D4},  // COLOR_BTNFACE, RGB(212, 208, 200)
      {13, 0x6A240A},  // COLOR_HIGHLIGHT, RGB(10, 36, 106): red in the low byte
      {24, 0xE1FFFF},  // COLOR_INFOBK, RGB(255, 255, 225)
      {30, 0xC8D0D4},  // COLOR_MENUBAR, the last index
  };
  for (const auto& c : cases) {
    COLORREF out = 0xDEADBEEF;
    EXPECT_EQ(OleTranslateColor(0x80000000u | c.index, nullptr, &out), S_OK) << c.index;
    EXPECT_EQ(out, c.rgb) << c.index;
  }
  for (DWORD index = 0; index <= 30; ++index) {
    COLORREF out = 0xDEADBEEF;
    ASSERT_EQ(OleTranslateColor(0x80000000u | index, nullptr, &out), S_OK) << index;
    EXPECT_EQ(out >> 24, 0u) << index;
  }
}

TEST(OleTranslateColor, RejectsBadIndexesAndOtherHighBytesWithoutWriting) {
  for (OLE_COLOR c : {0x8000001Fu, 0x800000FFu, 0x80010005u, 0x03000005u, 0x7F000000u, 0xFF000000u,
                      0x81000005u}) {
    COLORREF out = 0xDEADBEEF;
    EXPECT_EQ(OleTranslateColor(c, nullptr, &out), E_INVALIDARG) << std::hex << c;
    EXPECT_EQ(out, 0xDEADBEEFu);
  }
}

TEST(OleTranslateColor, ValidatesWithoutAnOutPointer) {
  EXPECT_EQ(OleTranslateColor(0x80000005u, nullptr, nullptr), S_OK);
  EXPECT_EQ(OleTranslateColor(0x00123456u, nullptr, nullptr), S_OK);
  EXPECT_EQ(OleTranslateColor(0x80000020u, nullptr, nullptr), E_INVALIDARG);
}

std::string text_of(REFGUID g) {
  OLECHAR buffer[39];
  EXPECT_EQ(StringFromGUID2(g, buffer, 39), 39);
  EXPECT_EQ(buffer[38], 0);
  return narrow(buffer, 38);
}

TEST(Guids, InterfaceIdentifiersHaveTheirPublishedValues) {
  const struct {
    const IID& iid;
    const char* text;
  } cases[] = {
      {IID_NULL, "{00000000-0000-0000-0000-000000000000}"},
      {IID_IUnknown, "{00000000-0000-0000-C000-000000000046}"},
      {IID_IDispatch, "{00020400-0000-0000-C000-000000000046}"},
      {IID_IClassFactory, "{00000001-0000-0000-C000-000000000046}"},
      {IID_IConnectionPointContainer, "{B196B284-BAB4-101A-B69C-00AA00341D07}"},
      {IID_IEnumConnectionPoints, "{B196B285-BAB4-101A-B69C-00AA00341D07}"},
      {IID_IConnectionPoint, "{B196B286-BAB4-101A-B69C-00AA00341D07}"},
      {IID_IEnumConnections, "{B196B287-BAB4-101A-B69C-00AA00341D07}"},
  };
  for (const auto& c : cases) EXPECT_EQ(text_of(c.iid), c.text);
}

TEST(Guids, TextRoundTripsInUpperCase) {
  const CLSID clsid = {
      0x834FBEE5, 0xD957, 0x11D3, {0x9C, 0x50, 0x00, 0x60, 0x97, 0x2F, 0x00, 0xDC}};
  EXPECT_EQ(text_of(clsid), "{834FBEE5-D957-11D3-9C50-0060972F00DC}");
  CLSID parsed;
  EXPECT_EQ(CLSIDFromString(u"{834fbee5-d957-11d3-9c50-0060972f00dc}", &parsed), S_OK);
  EXPECT_TRUE(IsEqualCLSID(parsed, clsid));
  const CLSID high_bits = {
      0xFFFFFFFF, 0x8000, 0x0001, {0xFF, 0x01, 0x80, 0x7F, 0x10, 0x0A, 0xA0, 0xFE}};
  OLECHAR buffer[39];
  ASSERT_EQ(StringFromGUID2(high_bits, buffer, 39), 39);
  EXPECT_EQ(CLSIDFromString(buffer, &parsed), S_OK);
  EXPECT_TRUE(IsEqualCLSID(parsed, high_bits));
}

TEST(Guids, ShortBufferGetsNothing) {
  OLECHAR buffer[39] = {u'x'};
  EXPECT_EQ(StringFromGUID2(IID_IDispatch, buffer, 38), 0);
  EXPECT_EQ(buffer[0], u'x');
}

TEST(Guids, MalformedTextIsRejectedAfterWhatWasRead) {
  // What the text held up to the first character out of place is written over
  // the GUID given; text without the opening brace leaves CLSID_NULL.
  const struct {
    const char16_t* text;
    const char* left;
  } cases[] = {
      {u"834FBEE5-D957-11D3-9C50-0060972F00DC", "{00000000-0000-0000-0000-000000000000}"},
      {u"{834FBEE5-D957-11D3-9C50-0060972F00D}", "{834FBEE5-D957-11D3-9C50-0060972F0046}"},
      {u"{834FBEE5-D957-11D3-9C50-0060972F00DCC}", "{834FBEE5-D957-11D3-9C50-0060972F00DC}"},
      {u"{834FBEE5-D957-11D3-9C50+0060972F00DC}", "{834FBEE5-D957-11D3-9C50-000000000046}"},
      {u"{834FBEG5-D957-11D3-9C50-0060972F00DC}", "{00834FBE-0000-0000-C000-000000000046}"},
      {u"ScanMontura.ScanMontura", "{00000000-0000-0000-0000-000000000000}"},
      {u"", "{00000000-0000-0000-0000-000000000000}"},
  };
  for (const auto& c : cases) {
    CLSID out = IID_IDispatch;
    EXPECT_EQ(CLSIDFromString(c.text, &out), CO_E_CLASSSTRING) << c.left;
    EXPECT_EQ(text_of(out), c.left);
  }
  CLSID out = IID_IDispatch;
  EXPECT_EQ(CLSIDFromString(nullptr, &out), S_OK);  // null is CLSID_NULL
  EXPECT_TRUE(IsEqualIID(out, IID_NULL));
  EXPECT_EQ(CLSIDFromString(u"{834FBEE5-D957-11D3-9C50-0060972F00DC}", nullptr), E_INVALIDARG);
}

TEST(Interlocked, ReturnsTheNewValueAndLosesNoUpdates) {
  LONG volatile counter = 0;
  EXPECT_EQ(InterlockedIncrement(&counter), 1);
  EXPECT_EQ(InterlockedDecrement(&counter), 0);
  EXPECT_EQ(InterlockedDecrement(&counter), -1);
  counter = 0x7FFFFFFF;
  EXPECT_EQ(InterlockedIncrement(&counter), static_cast<LONG>(0x80000000u));  // wraps as on Windows
  counter = 0;
  constexpr int kThreads = 4, kRounds = 50000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        InterlockedIncrement(&counter);
        InterlockedIncrement(&counter);
        InterlockedDecrement(&counter);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, kThreads * kRounds);
}

TEST(CoInitialize, CountsPerThreadAndKeepsItsModel) {
  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    std::thread([] {  // another thread starts uninitialised
      EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
      CoUninitialize();
    })
        .join();
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);  // balanced: new start
    CoUninitialize();
  }).join();
}

}  // namespace
