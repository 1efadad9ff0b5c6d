// VariantChangeType: the scalar conversions, swept across their boundaries.
#include <cmath>
#include <limits>
#include <vector>

#include "test_util.h"

namespace {

VARIANT make_i4(LONG v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_I4;
  x.lVal = v;
  return x;
}
VARIANT make_r8(double v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_R8;
  x.dblVal = v;
  return x;
}
VARIANT make_r4(float v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_R4;
  x.fltVal = v;
  return x;
}
VARIANT make_ui4(ULONG v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_UI4;
  x.ulVal = v;
  return x;
}
VARIANT make_bool(VARIANT_BOOL v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_BOOL;
  x.boolVal = v;
  return x;
}

// The integer value of a VARIANT of an integer type, widened by its signedness.
long long integer_of(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1: return static_cast<int8_t>(v.cVal);
    case VT_UI1: return v.bVal;
    case VT_I2: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_I4: return v.lVal;
    case VT_INT: return v.intVal;
    case VT_UI4: return v.ulVal;
    case VT_UINT: return v.uintVal;
    case VT_BOOL: return v.boolVal;
    default: ADD_FAILURE() << "not an integer type: " << v.vt; return 0;
  }
}

struct IntegerType {
  VARTYPE vt;
  long long lo, hi;
};
const IntegerType kIntegerTypes[] = {
    {VT_I1, -128, 127},
    {VT_UI1, 0, 255},
    {VT_I2, -32768, 32767},
    {VT_UI2, 0, 65535},
    {VT_I4, INT32_MIN, INT32_MAX},
    {VT_INT, INT32_MIN, INT32_MAX},
    {VT_UI4, 0, UINT32_MAX},
    {VT_UINT, 0, UINT32_MAX},
};

// A source that holds `value` exactly: VT_I4 where it fits, else VT_UI4 or VT_R8.
VARIANT exact_source(long long value) {
  if (value >= INT32_MIN && value <= INT32_MAX) return make_i4(static_cast<LONG>(value));
  if (value >= 0 && value <= UINT32_MAX) return make_ui4(static_cast<ULONG>(value));
  return make_r8(static_cast<double>(value));
}

using ChangeType = BstrLeakCheck;

TEST_F(ChangeType, IntegersFitUpToTheirEdgesAndOverflowJustBeyond) {
  for (const IntegerType& t : kIntegerTypes) {
    for (long long value : {t.lo, t.lo + 1, 0LL, t.hi - 1, t.hi}) {
      for (VARIANT src : {exact_source(value), make_r8(static_cast<double>(value))}) {
        VARIANT dst;
        VariantInit(&dst);
        ASSERT_EQ(VariantChangeType(&dst, &src, 0, t.vt), S_OK) << t.vt << " " << value;
        EXPECT_EQ(dst.vt, t.vt);
        EXPECT_EQ(integer_of(dst), value) << t.vt << " from vt " << src.vt;
      }
    }
    for (long long value : {t.lo - 1, t.hi + 1}) {
      std::vector<VARIANT> sources = {make_r8(static_cast<double>(value))};
      // Between the signed and unsigned 32-bit types the bits are kept instead.
      const VARIANT exact = exact_source(value);
      if (exact.vt == VT_R8 || t.hi < INT32_MAX) sources.push_back(exact);
      for (VARIANT src : sources) {
        VARIANT dst = make_i4(12345);
        EXPECT_EQ(VariantChangeType(&dst, &src, 0, t.vt), DISP_E_OVERFLOW) << t.vt << " " << value;
        EXPECT_EQ(dst.vt, VT_I4);  // a failed change leaves the destination alone
        EXPECT_EQ(dst.lVal, 12345);
      }
    }
  }
}

TEST_F(ChangeType, FloatingPointRoundsHalfToEven) {
  const struct {
    double in;
    long long out;
  } cases[] = {
      {0.5, 0},
      {1.5, 2},
      {2.5, 2},
      {3.5, 4},
      {-0.5, 0},
      {-1.5, -2},
      {-2.5, -2},
      {2.4999, 2},
      {2.5001, 3},
      {-2.5001, -3},
      {0.49999999999999994, 0},
  };
  for (const auto& c : cases) {
    VARIANT src = make_r8(c.in), dst;
    VariantInit(&dst);
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), S_OK) << c.in;
    EXPECT_EQ(dst.lVal, c.out) << c.in;
    VARIANT src4 = make_r4(static_cast<float>(c.in));
    ASSERT_EQ(VariantChangeType(&dst, &src4, 0, VT_I2), S_OK) << c.in;
    EXPECT_EQ(dst.iVal, c.out) << c.in;
  }
}

TEST_F(ChangeType, RoundingDecidesTheRangeAtTheEdges) {
  const struct {
    double in;
    VARTYPE vt;
    HRESULT hr;
    long long out;
  } cases[] = {
      {127.4, VT_I1, S_OK, 127},
      {127.5, VT_I1, DISP_E_OVERFLOW, 0},  // 128 after rounding
      {-128.5, VT_I1, S_OK, -128},
      {-128.6, VT_I1, DISP_E_OVERFLOW, 0},
      {255.5, VT_UI1, DISP_E_OVERFLOW, 0},
      {-0.5, VT_UI1, S_OK, 0},
      {-0.6, VT_UI1, DISP_E_OVERFLOW, 0},
      {4294967295.4, VT_UI4, S_OK, 4294967295LL},
      {2147483647.5, VT_I4, DISP_E_OVERFLOW, 0},
      {-2147483648.5, VT_I4, S_OK, INT32_MIN},
  };
  for (const auto& c : cases) {
    VARIANT src = make_r8(c.in), dst;
    VariantInit(&dst);
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, c.vt), c.hr) << c.in;
    if (c.hr == S_OK) {
      EXPECT_EQ(integer_of(dst), c.out) << c.in;
    }
  }
}

TEST_F(ChangeType, NonFiniteValuesDoNotBecomeIntegers) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double v : {std::nan(""), inf, -inf}) {
    VARIANT src = make_r8(v), dst;
    VariantInit(&dst);
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), DISP_E_OVERFLOW) << v;
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_UI1), DISP_E_OVERFLOW) << v;
  }
}

TEST_F(ChangeType, DoubleToFloatChecksTheFloatRange) {
  VARIANT dst;
  VariantInit(&dst);
  VARIANT big = make_r8(3.5e38), max = make_r8(std::numeric_limits<float>::max()),
          tiny = make_r8(1e-50), neg = make_r8(-3.5e38);
  EXPECT_EQ(VariantChangeType(&dst, &big, 0, VT_R4), DISP_E_OVERFLOW);
  EXPECT_EQ(VariantChangeType(&dst, &neg, 0, VT_R4), DISP_E_OVERFLOW);
  ASSERT_EQ(VariantChangeType(&dst, &max, 0, VT_R4), S_OK);
  EXPECT_EQ(dst.fltVal, std::numeric_limits<float>::max());
  ASSERT_EQ(VariantChangeType(&dst, &tiny, 0, VT_R4), S_OK);
  EXPECT_EQ(dst.fltVal, 0.0f);
  VARIANT i = make_i4(-16777217);  // integers just become the nearest float
  ASSERT_EQ(VariantChangeType(&dst, &i, 0, VT_R4), S_OK);
  EXPECT_EQ(dst.fltVal, -16777216.0f);
  ASSERT_EQ(VariantChangeType(&dst, &i, 0, VT_R8), S_OK);
  EXPECT_EQ(dst.dblVal, -16777217.0);
}

TEST_F(ChangeType, BooleansAreMinusOneOrZero) {
  VARIANT dst;
  VariantInit(&dst);
  VARIANT t = make_bool(VARIANT_TRUE), f = make_bool(VARIANT_FALSE);
  // VARIANT_TRUE keeps its bits in every integer type.
  const struct {
    VARTYPE vt;
    long long out;
  } true_as[] = {{VT_I1, -1},
                 {VT_UI1, 255},
                 {VT_I2, -1},
                 {VT_UI2, 65535},
                 {VT_I4, -1},
                 {VT_INT, -1},
                 {VT_UI4, 4294967295LL},
                 {VT_UINT, 4294967295LL}};
  for (const auto& c : true_as) {
    ASSERT_EQ(VariantChangeType(&dst, &t, 0, c.vt), S_OK) << c.vt;
    EXPECT_EQ(integer_of(dst), c.out) << c.vt;
    ASSERT_EQ(VariantChangeType(&dst, &f, 0, c.vt), S_OK) << c.vt;
    EXPECT_EQ(integer_of(dst), 0) << c.vt;
  }
  ASSERT_EQ(VariantChangeType(&dst, &t, 0, VT_R8), S_OK);
  EXPECT_EQ(dst.dblVal, -1.0);

  // Any nonzero number is VARIANT_TRUE, whatever its bits.
  const VARIANT to_bool[] = {make_i4(1),    make_i4(0x10000), make_i4(-2),
                             make_r8(0.25), make_r4(-1e-30f), make_ui4(0x80000000u)};
  for (const VARIANT& src : to_bool) {
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BOOL), S_OK);
    EXPECT_EQ(dst.vt, VT_BOOL);
    EXPECT_EQ(dst.boolVal, VARIANT_TRUE) << src.vt;
  }
  for (const VARIANT& src : {make_i4(0), make_r8(0.0), make_r8(-0.0)}) {
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BOOL), S_OK);
    EXPECT_EQ(dst.boolVal, VARIANT_FALSE);
  }
}

struct Text {
  VARIANT src;
  USHORT flags;
  const char* text;
};

TEST_F(ChangeType, NumbersBecomeDecimalText) {
  const Text cases[] = {
      {make_i4(-123), 0, "-123"},
      {make_i4(INT32_MIN), 0, "-2147483648"},
      {make_ui4(UINT32_MAX), 0, "4294967295"},
      {make_r8(1.5), 0, "1.5"},
      {make_r8(-0.1), 0, "-0.1"},
      {make_r8(1e20), 0, "1E+20"},
      {make_r8(1.0 / 3), 0, "0.333333333333333"},
      {make_r8(123456789012.0), 0, "123456789012"},
      {make_r4(0.1f), 0, "0.1"},
      {make_r4(1.0f / 3), 0, "0.3333333"},
      {make_bool(VARIANT_TRUE), 0, "-1"},
      {make_bool(VARIANT_FALSE), 0, "0"},
      {make_bool(VARIANT_TRUE), VARIANT_ALPHABOOL, "True"},
      {make_bool(VARIANT_FALSE), VARIANT_ALPHABOOL, "False"},
      {make_bool(VARIANT_TRUE), VARIANT_LOCALBOOL, "True"},
      // The edges of the double range, and a carry through every digit.
      {make_r8(std::numeric_limits<double>::max()), 0, "1.79769313486232E+308"},
      {make_r8(std::numeric_limits<double>::denorm_min()), 0, "4.94065645841247E-324"},
      {make_r8(1e23), 0, "1E+23"},  // 9.99999999999999991611392E+22
      {make_r8(0.1 + 0.2), 0, "0.3"},
      // Plain decimals while 15 digits hold the number, an exponent beyond.
      {make_r8(1e14), 0, "100000000000000"},
      {make_r8(-123.456), 0, "-123.456"},
      {make_r8(1e-15), 0, "0.000000000000001"},
      {make_r8(1e-16), 0, "1E-16"},
      {make_r8(1.5e-15), 0, "1.5E-15"},
      {make_r4(std::numeric_limits<float>::max()), 0, "3.402823E+38"},
      {make_r4(16777216.0f), 0, "1.677722E+07"},
      {make_r4(0.0000001f), 0, "0.0000001"},
      // Digits past the kept ones that look like a tie until read exactly:
      // 7.11756230518252497..., 5.37947699375426502..., 18.1757049560546875,
      // 77.55498504638671875.
      {make_r8(7.117562305182525), 0, "7.11756230518252"},
      {make_r8(5.379476993754265), 0, "5.37947699375427"},
      {make_r4(18.175704956054688f), 0, "18.1757"},
      {make_r4(77.55498504638672f), 0, "77.55499"},
      {make_r8(std::numeric_limits<double>::infinity()), 0, "1.#INF"},
      {make_r8(-std::numeric_limits<double>::infinity()), 0, "-1.#INF"},
      {make_r8(std::numeric_limits<double>::quiet_NaN()), 0, "1.#QNAN"},
  };
  for (const Text& c : cases) {
    VARIANT dst;
    VariantInit(&dst);
    ASSERT_EQ(VariantChangeType(&dst, &c.src, c.flags, VT_BSTR), S_OK) << c.text;
    ASSERT_EQ(dst.vt, VT_BSTR);
    EXPECT_EQ(narrow(dst.bstrVal), c.text);
    VariantClear(&dst);
  }
}

struct Parse {
  const char* text;
  VARTYPE vt;
  HRESULT hr;
  double value;  // integer targets compare as integers
};

TEST_F(ChangeType, TextIsParsedAsANumber) {
  const Parse cases[] = {
      {"42", VT_I4, S_OK, 42},
      {"  -7 ", VT_I4, S_OK, -7},
      {"+3", VT_I2, S_OK, 3},
      {"1e3", VT_I4, S_OK, 1000},
      {"2.5", VT_I4, S_OK, 2},
      {"3.5", VT_UI1, S_OK, 4},
      {".5", VT_R8, S_OK, 0.5},
      {"5.", VT_R8, S_OK, 5},
      {"-1.25E-2", VT_R8, S_OK, -0.0125},
      {"0.1", VT_R4, S_OK, 0.1f},
      {"255", VT_UI1, S_OK, 255},
      {"256", VT_UI1, DISP_E_OVERFLOW, 0},
      {"-1", VT_UI4, DISP_E_OVERFLOW, 0},
      {"2147483648", VT_I4, DISP_E_OVERFLOW, 0},
      {"4294967295", VT_UI4, S_OK, 4294967295.0},
      {"1e400", VT_R8, DISP_E_OVERFLOW, 0},
      {"1e-400", VT_R8, S_OK, 0},
      {"0.00000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "0000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "0000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "0000000000000000000000000000000000000000000000000000000000000000000000000000000001",
       VT_R8, S_OK, 0},
      {"1e39", VT_R4, DISP_E_OVERFLOW, 0},
      {"0", VT_BOOL, S_OK, VARIANT_FALSE},
      {"7", VT_BOOL, S_OK, VARIANT_TRUE},
      {"True", VT_BOOL, S_OK, VARIANT_TRUE},
      {"fALSE", VT_BOOL, S_OK, VARIANT_FALSE},
      {"True", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"   ", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"12x", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"0x10", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"inf", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"nan", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"1e", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"--1", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {".", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"1 2", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"yes", VT_BOOL, DISP_E_TYPEMISMATCH, 0},
      {"#true#", VT_BOOL, S_OK, VARIANT_TRUE},
      {"&H10", VT_BOOL, S_OK, VARIANT_TRUE},
      // Grouping, signs and parentheses, and what they do not allow.
      {"1,000,000.25", VT_R8, S_OK, 1000000.25},
      {"-$5", VT_I4, S_OK, -5},
      {"($1,000)", VT_I4, S_OK, -1000},
      {"5 -", VT_I4, S_OK, -5},
      {"1.5,0", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"(-5)", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"((5))", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"5)", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"+5-", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"$$5", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {",", VT_I4, DISP_E_TYPEMISMATCH, 0},
      // Hexadecimal and octal digits are bits: a target takes those of its size.
      {"&HFF", VT_I1, S_OK, -1},
      {"&HFF", VT_UI1, S_OK, 255},
      {"&H100", VT_UI1, DISP_E_OVERFLOW, 0},
      {"&HFFFF", VT_I2, S_OK, -1},
      {"&HFFFF", VT_I4, S_OK, 65535},
      {"&HFFFFFFFF", VT_I4, S_OK, -1},
      {"&HFFFFFFFF", VT_UI4, S_OK, 4294967295.0},
      {"&H100000000", VT_I4, DISP_E_OVERFLOW, 0},
      {"&HFFFFFFFFFFFFFFFF", VT_R8, S_OK, 18446744073709551615.0},
      {"&H10000000000000000", VT_R8, DISP_E_OVERFLOW, 0},
      {"&O1777777777777777777777", VT_R8, S_OK, 18446744073709551615.0},
      {"&O2000000000000000000000", VT_R8, DISP_E_OVERFLOW, 0},
      {" &o17 ", VT_I4, S_OK, 15},
      {"&H", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"&O8", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"&HFx", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"-&H1", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"&X1", VT_I4, DISP_E_TYPEMISMATCH, 0},
      // Exponents far beyond any double.
      {"1e99999999999999999999", VT_R8, DISP_E_OVERFLOW, 0},
      {"1e-99999999999999999999", VT_R8, S_OK, 0},
      {"0e99999999999999999999", VT_R8, S_OK, 0},
  };
  for (const Parse& c : cases) {
    TestBstr text(c.text);
    VARIANT src, dst;
    VariantInit(&src);
    VariantInit(&dst);
    src.vt = VT_BSTR;
    src.bstrVal = text.get();
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, c.vt), c.hr) << '"' << c.text << '"';
    if (c.hr != S_OK) {
      EXPECT_EQ(dst.vt, VT_EMPTY);
      continue;
    }
    ASSERT_EQ(dst.vt, c.vt);
    if (c.vt == VT_R8) {
      EXPECT_DOUBLE_EQ(dst.dblVal, c.value) << c.text;
    } else if (c.vt == VT_R4) {
      EXPECT_FLOAT_EQ(dst.fltVal, static_cast<float>(c.value)) << c.text;
    } else {
      EXPECT_EQ(integer_of(dst), static_cast<long long>(c.value)) << c.text;
    }
  }
}

TEST_F(ChangeType, TextOfAnyLengthIsReadWithoutFault) {
  const struct {
    std::string text;
    HRESULT hr;
    double value;
  } cases[] = {
      {std::string(100000, '9'), DISP_E_OVERFLOW, 0},
      {std::string(100000, '0') + "1", S_OK, 1},
      {"0." + std::string(100000, '0') + "1", S_OK, 0},
      {std::string(50000, ' ') + "7" + std::string(50000, ' '), S_OK, 7},
      {"1" + std::string(100000, ',') + "5", S_OK, 15},
      {"&H" + std::string(100000, '0') + "F", S_OK, 15},
      {"&H" + std::string(100000, 'F'), DISP_E_OVERFLOW, 0},
      {std::string(100000, '('), DISP_E_TYPEMISMATCH, 0},
  };
  for (const auto& c : cases) {
    TestBstr text(c.text);
    VARIANT src, dst;
    VariantInit(&src);
    VariantInit(&dst);
    src.vt = VT_BSTR;
    src.bstrVal = text.get();
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_R8), c.hr) << c.text.substr(0, 20);
    if (c.hr == S_OK) {
      EXPECT_EQ(dst.dblVal, c.value) << c.text.substr(0, 20);
    }
  }
}

TEST_F(ChangeType, ObjectsGiveTheirDefaultValueOnce) {
  DefaultValueObject object;
  object.value.vt = VT_BSTR;
  object.value.bstrVal = SysAllocString(u"17");
  VARIANT v;
  VariantInit(&v);

  // Through a reference, and in place: the object loses the reference it held.
  IDispatch* referenced = &object;
  v.vt = VT_BYREF | VT_DISPATCH;
  v.ppdispVal = &referenced;
  VARIANT dst;
  VariantInit(&dst);
  ASSERT_EQ(VariantChangeType(&dst, &v, 0, VT_UI1), S_OK);
  EXPECT_EQ(dst.bVal, 17);
  object.AddRef();
  v.vt = VT_DISPATCH;
  v.pdispVal = &object;
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I2), S_OK);
  EXPECT_EQ(v.vt, VT_I2);
  EXPECT_EQ(v.iVal, 17);
  EXPECT_EQ(object.refs, 1);

  // The object's own failure is the conversion's; a default value that is an
  // object, or no object at all, is a type mismatch; to VT_EMPTY nothing is asked.
  v.vt = VT_DISPATCH;
  v.pdispVal = &object;
  object.fails_with = DISP_E_MEMBERNOTFOUND;
  EXPECT_EQ(VariantChangeType(&dst, &v, 0, VT_I4), DISP_E_MEMBERNOTFOUND);
  object.fails_with = S_OK;
  VariantClear(&object.value);
  object.value.vt = VT_DISPATCH;
  object.value.pdispVal = &object;  // its own default value: not followed
  object.AddRef();
  EXPECT_EQ(VariantChangeType(&dst, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  object.asked.clear();
  EXPECT_EQ(VariantChangeType(&dst, &v, 0, VT_EMPTY), S_OK);
  EXPECT_EQ(dst.vt, VT_EMPTY);
  EXPECT_EQ(object.asked, "");
  v.pdispVal = nullptr;
  EXPECT_EQ(VariantChangeType(&dst, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(&object.value);
  EXPECT_EQ(object.refs, 1);
}

TEST_F(ChangeType, NonAsciiTextIsNotANumber) {
  const OLECHAR arabic_seven[] = {0x0667, 0};
  BSTR b = SysAllocString(arabic_seven);
  VARIANT src, dst;
  VariantInit(&src);
  VariantInit(&dst);
  src.vt = VT_BSTR;
  src.bstrVal = b;
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(&src);
}

TEST_F(ChangeType, EmptyIsZeroFalseOrEmptyText) {
  VARIANT empty, dst;
  VariantInit(&empty);
  VariantInit(&dst);
  for (const IntegerType& t : kIntegerTypes) {
    ASSERT_EQ(VariantChangeType(&dst, &empty, 0, t.vt), S_OK);
    EXPECT_EQ(integer_of(dst), 0);
  }
  ASSERT_EQ(VariantChangeType(&dst, &empty, 0, VT_R8), S_OK);
  EXPECT_EQ(dst.dblVal, 0.0);
  ASSERT_EQ(VariantChangeType(&dst, &empty, 0, VT_BOOL), S_OK);
  EXPECT_EQ(dst.boolVal, VARIANT_FALSE);
  ASSERT_EQ(VariantChangeType(&dst, &empty, 0, VT_BSTR), S_OK);
  ASSERT_NE(dst.bstrVal, nullptr);
  EXPECT_EQ(SysStringLen(dst.bstrVal), 0u);
  VariantClear(&dst);
}

TEST_F(ChangeType, SameVariantInAndOut) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u" 12 ");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);  // the string is freed
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 12);
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(narrow(v.bstrVal), "12");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);  // to its own type
  EXPECT_EQ(narrow(v.bstrVal), "12");

  SysFreeString(v.bstrVal);
  v.bstrVal = SysAllocString(u"abc");
  BSTR before = v.bstrVal;
  EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(v.vt, VT_BSTR);  // a failure leaves it as it was
  EXPECT_EQ(v.bstrVal, before);
  VariantClear(&v);
}

TEST_F(ChangeType, ConvertsOverTheOldDestinationAndFreesIt) {
  VARIANT dst, src = make_i4(9);
  VariantInit(&dst);
  dst.vt = VT_BSTR;
  dst.bstrVal = SysAllocString(u"old");
  CountedUnknown object;
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_R8), S_OK);
  EXPECT_EQ(dst.dblVal, 9.0);
  dst.vt = VT_UNKNOWN;
  dst.punkVal = &object;
  object.AddRef();
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_UI1), S_OK);
  EXPECT_EQ(object.refs, 1);
}

TEST_F(ChangeType, ReadsThroughAReference) {
  SHORT s = -300;
  BSTR text = SysAllocString(u"77");
  VARIANT_BOOL b = VARIANT_TRUE;
  VARIANT src, dst;
  VariantInit(&src);
  VariantInit(&dst);
  src.vt = VT_BYREF | VT_I2;
  src.piVal = &s;
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), S_OK);
  EXPECT_EQ(dst.lVal, -300);
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_I2), S_OK);  // same base type: a value copy
  EXPECT_EQ(dst.vt, VT_I2);
  EXPECT_EQ(dst.iVal, -300);
  src.vt = VT_BYREF | VT_BSTR;
  src.pbstrVal = &text;
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_UI2), S_OK);
  EXPECT_EQ(dst.uiVal, 77);
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
  EXPECT_NE(dst.bstrVal, text);
  EXPECT_EQ(narrow(dst.bstrVal), "77");
  VariantClear(&dst);
  src.vt = VT_BYREF | VT_BOOL;
  src.pboolVal = &b;
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_I1), S_OK);
  EXPECT_EQ(integer_of(dst), -1);

  // A reference to a VARIANT: the value is the referenced VARIANT's.
  VARIANT inner;
  VariantInit(&inner);
  inner.vt = VT_BSTR;
  inner.bstrVal = text;
  src.vt = VT_BYREF | VT_VARIANT;
  src.pvarVal = &inner;
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_R8), S_OK);
  EXPECT_EQ(dst.dblVal, 77.0);
  inner.vt = VT_BYREF | VT_I2;
  inner.piVal = &s;
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
  EXPECT_EQ(narrow(dst.bstrVal), "-300");
  VariantClear(&dst);
  VARIANT outer = src;  // a reference to a reference to a VARIANT is not allowed
  inner.vt = VT_BYREF | VT_VARIANT;
  inner.pvarVal = &outer;
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), DISP_E_BADVARTYPE);
  SysFreeString(text);
}

TEST_F(ChangeType, DecimalCopiesToItsOwnType) {
  VARIANT src, dst;
  VariantInit(&src);
  VariantInit(&dst);
  src.decVal.Hi32 = 1;
  src.decVal.Lo64 = 0x0123456789ABCDEFull;
  src.decVal.scale = 4;
  src.decVal.sign = 0x80;
  src.vt = VT_DECIMAL;  // overlays decVal.wReserved: set it last
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_DECIMAL), S_OK);
  EXPECT_EQ(dst.vt, VT_DECIMAL);
  EXPECT_EQ(dst.decVal.Hi32, 1u);
  EXPECT_EQ(dst.decVal.Lo64, 0x0123456789ABCDEFull);
  EXPECT_EQ(dst.decVal.scale, 4);
  EXPECT_EQ(dst.decVal.sign, 0x80);
}

TEST_F(ChangeType, ObjectsCopyOnlyToTheirOwnType) {
  CountedUnknown object;
  VARIANT src, dst;
  VariantInit(&src);
  VariantInit(&dst);
  src.vt = VT_UNKNOWN;
  src.punkVal = &object;
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(dst.punkVal, &object);
  EXPECT_EQ(object.refs, 2);
  VariantClear(&dst);
  EXPECT_EQ(object.refs, 1);
  for (VARTYPE vt : {VT_I4, VT_BSTR, VT_BOOL, VT_R8})
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, vt), DISP_E_TYPEMISMATCH) << vt;
  EXPECT_EQ(object.refs, 1);
}

TEST_F(ChangeType, UnsupportedPairsAreTypeMismatches) {
  VARIANT null_value, dst, i4 = make_i4(1);
  VariantInit(&null_value);
  VariantInit(&dst);
  null_value.vt = VT_NULL;
  for (VARTYPE vt : {VT_I4, VT_BSTR, VT_BOOL, VT_R8})
    EXPECT_EQ(VariantChangeType(&dst, &null_value, 0, vt), DISP_E_TYPEMISMATCH) << vt;
  for (VARTYPE vt : {VT_DATE, VT_CY, VT_DECIMAL, VT_ERROR, VT_DISPATCH})
    EXPECT_EQ(VariantChangeType(&dst, &i4, 0, vt), DISP_E_TYPEMISMATCH) << vt;
  EXPECT_EQ(VariantChangeType(&dst, &i4, 0, VT_BYREF | VT_I4), DISP_E_BADVARTYPE);
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 0x0FFF;
  EXPECT_EQ(VariantChangeType(&dst, &bad, 0, VT_I4), DISP_E_BADVARTYPE);
  EXPECT_EQ(dst.vt, VT_EMPTY);
}

}  // namespace
