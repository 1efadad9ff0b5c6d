// BSTR allocation and the lifetime rules of VARIANTs.
#include <cstddef>
#include <cstring>

#include "test_util.h"

namespace {

using Bstr = BstrLeakCheck;

TEST_F(Bstr, KeepsLengthPrefixTerminatorAndEmbeddedNuls) {
  const OLECHAR text[] = {u'a',      0,      u'\u00e9',
                          u'\u4e2d', 0xD83D, 0xDE00};  // NUL and a surrogate pair
  BSTR b = SysAllocStringLen(text, 6);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 6u);
  uint32_t byte_length;
  std::memcpy(&byte_length, reinterpret_cast<char*>(b) - 4, 4);
  EXPECT_EQ(byte_length, 12u);
  EXPECT_EQ(std::memcmp(b, text, sizeof text), 0);
  EXPECT_EQ(b[6], 0);
  SysFreeString(b);
}

TEST_F(Bstr, AllocStringStopsAtTheTerminator) {
  BSTR b = SysAllocString(u"Explora");
  EXPECT_EQ(narrow(b), "Explora");
  SysFreeString(b);
  BSTR empty = SysAllocString(u"");
  ASSERT_NE(empty, nullptr);  // an empty string is not a null BSTR
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(empty[0], 0);
  SysFreeString(empty);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
}

TEST_F(Bstr, WithoutSourceAllocatesZeroedCharacters) {
  BSTR b = SysAllocStringLen(nullptr, 100);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 100u);
  for (UINT i = 0; i <= 100; ++i) ASSERT_EQ(b[i], 0) << i;
  SysFreeString(b);
}

TEST_F(Bstr, NullAndImpossibleLengths) {
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);  // and nothing counted
}

TEST_F(Bstr, ByteLengthsAndReallocation) {
  for (UINT bytes = 0; bytes < 12; ++bytes) {  // zeroed, terminated, pointer-aligned
    BSTR b = SysAllocStringByteLen(nullptr, bytes);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringByteLen(b), bytes);
    EXPECT_EQ(SysStringLen(b), bytes / 2);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % sizeof(void*), 0u) << bytes;
    for (UINT i = 0; i < bytes + 2; ++i) EXPECT_EQ(reinterpret_cast<char*>(b)[i], 0) << i;
    EXPECT_EQ(b[SysStringLen(b) + (bytes & 1)], 0) << "terminator of " << bytes;
    SysFreeString(b);
  }

  BSTR b = SysAllocString(u"frame");
  EXPECT_TRUE(SysReAllocStringLen(&b, b + 2, 3));  // from its own characters
  EXPECT_EQ(narrow(b), "ame");
  EXPECT_TRUE(SysReAllocStringLen(&b, nullptr, 2));
  EXPECT_EQ(SysStringLen(b), 2u);
  EXPECT_EQ(b[0] | b[1] | b[2], 0);
  BSTR kept = b;
  EXPECT_FALSE(SysReAllocStringLen(&b, nullptr, 0xFFFFFFFFu));  // a failure keeps the string
  EXPECT_EQ(b, kept);
  EXPECT_TRUE(SysReAllocString(&b, u""));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 0u);
  EXPECT_TRUE(SysReAllocString(&b, nullptr));
  EXPECT_EQ(b, nullptr);
  EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
  EXPECT_FALSE(SysReAllocStringLen(nullptr, u"x", 1));
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
}

TEST_F(Bstr, LengthsBeyondTwoGibibytesAreRefused) {
  for (UINT bytes : {0x7FFFFFFCu, 0x80000000u, 0xFFFFFFFFu})
    EXPECT_EQ(SysAllocStringByteLen(nullptr, bytes), nullptr) << bytes;
  for (UINT chars : {0x3FFFFFFEu, 0x7FFFFFFFu, 0xFFFFFFFFu})
    EXPECT_EQ(SysAllocStringLen(nullptr, chars), nullptr) << chars;
}

TEST(BstrCounter, CountsEveryLiveString) {
  const long before = jtzcom_live_bstrs();
  BSTR a = SysAllocString(u"x");
  BSTR b = SysAllocStringLen(nullptr, 3);
  EXPECT_EQ(jtzcom_live_bstrs(), before + 2);
  SysFreeString(a);
  EXPECT_EQ(jtzcom_live_bstrs(), before + 1);
  SysFreeString(b);
  SysFreeString(nullptr);
  EXPECT_EQ(jtzcom_live_bstrs(), before);
}

// The layout that code compiled against the Windows headers relies on.
TEST(VariantLayout, MatchesTheWindowsAbi) {
  EXPECT_EQ(sizeof(VARIANT), sizeof(void*) == 4 ? 16u : 24u);
  EXPECT_EQ(offsetof(VARIANT, vt), 0u);
  EXPECT_EQ(offsetof(VARIANT, lVal), 8u);
  EXPECT_EQ(offsetof(VARIANT, bstrVal), 8u);
  EXPECT_EQ(offsetof(VARIANT, decVal), 0u);
  EXPECT_EQ(sizeof(DECIMAL), 16u);
  EXPECT_EQ(sizeof(GUID), 16u);
  EXPECT_EQ(sizeof(VARIANT_BOOL), 2u);
  EXPECT_EQ(sizeof(OLECHAR), 2u);
  EXPECT_EQ(sizeof(LONG), 4u);
}

using Variant = BstrLeakCheck;

TEST_F(Variant, InitMakesEmptyAndZeroesTheReservedWords) {
  VARIANT v;
  std::memset(&v, 0xAB, sizeof v);
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(v.wReserved1, 0);
  EXPECT_EQ(v.wReserved2, 0);
  EXPECT_EQ(v.wReserved3, 0);
}

TEST_F(Variant, ClearFreesTheStringAndReleasesObjects) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"owned");
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);

  CountedUnknown object;
  for (VARTYPE vt : {VT_UNKNOWN, VT_DISPATCH}) {
    object.AddRef();
    v.vt = vt;
    v.punkVal = &object;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(object.refs, 1) << vt;
  }

  v.vt = VT_UNKNOWN;  // a null object is nothing to release
  v.punkVal = nullptr;
  EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST_F(Variant, ClearLeavesWhatAReferencePointsAt) {
  CountedUnknown object;
  IUnknown* referenced = &object;
  BSTR text = SysAllocString(u"kept");
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | VT_UNKNOWN;
  v.byref = &referenced;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(object.refs, 1);
  v.vt = VT_BYREF | VT_BSTR;
  v.pbstrVal = &text;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(narrow(text), "kept");
  SysFreeString(text);
}

TEST_F(Variant, ClearRejectsTypesThatCannotBeInAVariant) {
  for (VARTYPE vt : {VARTYPE(15), VARTYPE(VT_VOID), VARTYPE(VT_HRESULT), VARTYPE(0x0FFF),
                     VARTYPE(VT_VECTOR | VT_I4), VARTYPE(VT_RESERVED | VT_I4),
                     VARTYPE(VT_BYREF | VT_EMPTY), VARTYPE(VT_ARRAY | VT_NULL)}) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.lVal = 77;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << vt;
    EXPECT_EQ(v.vt, vt);  // untouched
    EXPECT_EQ(v.lVal, 77);
  }
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST_F(Variant, CopyDuplicatesStringsAndAddsReferences) {
  VARIANT src, dst;
  VariantInit(&src);
  VariantInit(&dst);
  src.vt = VT_BSTR;
  src.bstrVal = SysAllocString(u"frame");
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.vt, VT_BSTR);
  EXPECT_NE(dst.bstrVal, src.bstrVal);
  EXPECT_EQ(narrow(dst.bstrVal), "frame");

  // Copying over a string frees it first; the object gains a reference.
  CountedUnknown object;
  VARIANT obj;
  VariantInit(&obj);
  obj.vt = VT_DISPATCH;
  obj.punkVal = &object;
  ASSERT_EQ(VariantCopy(&dst, &obj), S_OK);
  EXPECT_EQ(object.refs, 2);
  EXPECT_EQ(VariantCopy(&dst, &dst), S_OK);  // onto itself: nothing changes
  EXPECT_EQ(object.refs, 2);
  EXPECT_EQ(VariantClear(&dst), S_OK);
  EXPECT_EQ(object.refs, 1);
  EXPECT_EQ(VariantClear(&src), S_OK);
}

TEST_F(Variant, CopyOfABadTypeLeavesTheDestination) {
  VARIANT src, dst;
  VariantInit(&src);
  VariantInit(&dst);
  src.vt = VT_VECTOR | VT_I4;
  dst.vt = VT_BSTR;
  dst.bstrVal = SysAllocString(u"stays");
  EXPECT_EQ(VariantCopy(&dst, &src), DISP_E_BADVARTYPE);
  EXPECT_EQ(dst.vt, VT_BSTR);
  EXPECT_EQ(narrow(dst.bstrVal), "stays");
  VariantClear(&dst);
}

TEST_F(Variant, ArraysAndRecordsExistOnlyEmpty) {
  int payload = 0;
  for (VARTYPE vt : {VARTYPE(VT_ARRAY | VT_I4), VARTYPE(VT_RECORD)}) {
    VARIANT v, dst;
    VariantInit(&v);
    VariantInit(&dst);
    v.vt = vt;
    EXPECT_EQ(VariantCopy(&dst, &v), S_OK) << vt;  // null: nothing to copy or free
    EXPECT_EQ(dst.vt, vt);
    EXPECT_EQ(VariantClear(&dst), S_OK);
    v.brecVal.pRecInfo = &payload;  // the record information
    v.parray = reinterpret_cast<SAFEARRAY*>(&payload);
    EXPECT_EQ(VariantCopy(&dst, &v), DISP_E_BADVARTYPE) << vt;
    EXPECT_EQ(dst.vt, VT_EMPTY);
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << vt;
    EXPECT_EQ(v.vt, vt);
    EXPECT_EQ(VariantChangeType(&dst, &v, 0, VT_I4),
              vt == VT_RECORD ? DISP_E_TYPEMISMATCH : DISP_E_TYPEMISMATCH);
  }
}

TEST_F(Variant, CopyIndFollowsTheReference) {
  LONG number = -5;
  BSTR text = SysAllocString(u"ref");
  DECIMAL decimal = {};
  decimal.Lo64 = 123456789;
  decimal.scale = 3;
  CountedUnknown object;
  IUnknown* unknown = &object;
  VARIANT inner;
  VariantInit(&inner);
  inner.vt = VT_BYREF | VT_BSTR;
  inner.pbstrVal = &text;
  const struct {
    VARTYPE vt;
    void* reference;
    HRESULT hr;
    VARTYPE copied;
  } cases[] = {
      {VT_BYREF | VT_I4, &number, S_OK, VT_I4},
      {VT_BYREF | VT_BSTR, &text, S_OK, VT_BSTR},
      {VT_BYREF | VT_DECIMAL, &decimal, S_OK, VT_DECIMAL},
      {VT_BYREF | VT_UNKNOWN, &unknown, S_OK, VT_UNKNOWN},
      {VT_BYREF | VT_VARIANT, &inner, S_OK, VT_BSTR},  // two references, one of them a VARIANT
      {VT_BYREF | VT_I4, nullptr, E_INVALIDARG, 0},
      {VT_BYREF | VT_RECORD, &number, E_INVALIDARG, 0},
      {VT_BYREF | VT_CLSID, &number, E_INVALIDARG, 0},
      {VT_BYREF | VT_NULL, &number, E_INVALIDARG, 0},
      {VT_BYREF | VT_VECTOR | VT_I4, &number, E_INVALIDARG, 0},
  };
  for (const auto& c : cases) {
    VARIANT src, dst;
    VariantInit(&src);
    VariantInit(&dst);
    src.vt = c.vt;
    src.byref = c.reference;
    dst.vt = VT_BSTR;
    dst.bstrVal = SysAllocString(u"old");  // freed on success, kept on failure
    ASSERT_EQ(VariantCopyInd(&dst, &src), c.hr) << c.vt;
    if (FAILED(c.hr)) {
      EXPECT_EQ(narrow(dst.bstrVal), "old");
    } else {
      ASSERT_EQ(dst.vt, c.copied) << c.vt;
      if (c.copied == VT_I4) {
        EXPECT_EQ(dst.lVal, -5);
      }
      if (c.copied == VT_BSTR) {
        EXPECT_NE(dst.bstrVal, text);
        EXPECT_EQ(narrow(dst.bstrVal), "ref");
      }
      if (c.copied == VT_DECIMAL) {
        EXPECT_EQ(dst.decVal.Lo64, 123456789u);
        EXPECT_EQ(dst.decVal.scale, 3);
      }
      if (c.copied == VT_UNKNOWN) {
        EXPECT_EQ(object.refs, 2);
      }
    }
    VariantClear(&dst);
  }
  EXPECT_EQ(object.refs, 1);
  SysFreeString(text);
}

TEST_F(Variant, CopyOfAReferenceIsShallow) {
  LONG value = 5;
  VARIANT src, dst;
  VariantInit(&src);
  VariantInit(&dst);
  src.vt = VT_BYREF | VT_I4;
  src.plVal = &value;
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.vt, VT_BYREF | VT_I4);
  EXPECT_EQ(dst.plVal, &value);
}

}  // namespace
