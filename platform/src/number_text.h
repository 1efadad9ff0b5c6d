// Numbers as text in the one locale this layer knows, English (United States):
// what VariantChangeType writes for VT_R4 and VT_R8 and what it reads from a
// VT_BSTR. Not exported.
#pragma once

#include <posixcom/com.h>

#include <string>

namespace jtzcom {

// Text of `value` rounded to `digits` significant digits (7 for VT_R4, 15 for
// VT_R8), half away from zero on the exact binary value. Plain decimals unless
// the integer part needs more than `digits` digits or a fraction would need
// more than `digits` digits after the point; then "d.dddE+XX". Trailing zeros
// go, negative zero is "0"; infinities and NaN are "1.#INF", "-1.#INF",
// "1.#QNAN" and "-1.#IND".
std::string format_real(double value, int digits);

// A number read from text.
struct ParsedNumber {
  bool is_bits = false;  // a hexadecimal (&H) or octal (&O) number, whose value is `bits`
  ULONGLONG bits = 0;
  double value = 0;  // otherwise the decimal value, rounded to double
};

// Reads the characters of `text` up to its first NUL, or `length` of them. White
// space around the number, a leading or trailing sign (with blanks after a
// leading one), a "$" in front, parentheses for a negative number, "," between
// the digits of the integer part, a "." fraction and an exponent are the
// decimal forms; "&H" and "&O" numbers of up to 64 bits stand alone between
// white space. DISP_E_TYPEMISMATCH for anything else, DISP_E_OVERFLOW for a
// decimal beyond double or a hexadecimal or octal number beyond 64 bits.
HRESULT parse_number(const OLECHAR* text, size_t length, ParsedNumber* out);

}  // namespace jtzcom
