// Numbers as text, English (United States).
#include "number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace jtzcom {

namespace {

// Space, tab, line feed, vertical tab, form feed, carriage return, no-break space.
bool is_white(OLECHAR c) { return c == u' ' || (c >= 0x09 && c <= 0x0D) || c == 0xA0; }

bool is_digit(OLECHAR c) { return c >= u'0' && c <= u'9'; }

int digit_value(OLECHAR c, unsigned radix) {
  int value = 99;
  if (is_digit(c))
    value = c - u'0';
  else if (c >= u'a' && c <= u'f')
    value = c - u'a' + 10;
  else if (c >= u'A' && c <= u'F')
    value = c - u'A' + 10;
  return value < static_cast<int>(radix) ? value : -1;
}

// Power of ten of the leading significant digit of well-formed unsigned
// decimal text ("123.4" 2, "0.05" -2, "1e+9" 9); 0 for zero. The exponent is
// clamped, so absurd exponents still compare the right way.
long decimal_exponent(const std::string& text) {
  const size_t e = std::min(text.find_first_of("eE"), text.size());
  const size_t point = std::min(text.find('.'), e);
  const size_t lead = text.find_first_of("123456789");
  if (lead == std::string::npos || lead > e) return 0;
  const long power =
      lead < point ? static_cast<long>(point - lead) - 1 : -static_cast<long>(lead - point);
  long exponent = 0;
  if (e < text.size()) {
    const char* first = text.c_str() + e + 1;
    if (*first == '+') ++first;
    if (std::from_chars(first, text.c_str() + text.size(), exponent).ec != std::errc())
      exponent = *first == '-' ? -100000 : 100000;  // beyond long: far beyond double
  }
  return power + std::clamp(exponent, -100000L, 100000L);
}

// "&H" or "&O" digits, then only white space.
HRESULT parse_bits(const OLECHAR* s, size_t n, size_t p, ParsedNumber* out) {
  if (p + 1 >= n) return DISP_E_TYPEMISMATCH;
  unsigned shift;
  if (s[p + 1] == u'H' || s[p + 1] == u'h')
    shift = 4;
  else if (s[p + 1] == u'O' || s[p + 1] == u'o')
    shift = 3;
  else
    return DISP_E_TYPEMISMATCH;
  p += 2;
  ULONGLONG bits = 0;
  size_t digits = 0;
  bool overflow = false;
  for (int d; p < n && (d = digit_value(s[p], 1u << shift)) >= 0; ++p, ++digits) {
    if (bits > (~ULONGLONG{0} >> shift)) overflow = true;
    bits = bits << shift | static_cast<ULONGLONG>(d);
  }
  while (p < n && is_white(s[p])) ++p;
  if (digits == 0 || p != n) return DISP_E_TYPEMISMATCH;
  if (overflow) return DISP_E_OVERFLOW;
  out->is_bits = true;
  out->bits = bits;
  return S_OK;
}

}  // namespace

HRESULT parse_number(const OLECHAR* s, size_t length, ParsedNumber* out) {
  size_t n = 0;
  while (n < length && s[n]) ++n;
  size_t p = 0;

  // Leading white space, sign, currency sign and parenthesis, in any order.
  bool sign = false, negative = false, currency = false, parenthesis = false;
  for (; p < n; ++p) {
    const OLECHAR c = s[p];
    if (is_white(c)) continue;
    if ((c == u'+' || c == u'-') && !sign) {
      sign = true;
      negative = c == u'-';
    } else if (c == u'$' && !currency) {
      currency = true;
    } else if (c == u'(' && !parenthesis) {
      parenthesis = true;
    } else {
      break;
    }
  }
  if (p < n && s[p] == u'&') {
    if (sign || currency || parenthesis) return DISP_E_TYPEMISMATCH;
    return parse_bits(s, n, p, out);
  }

  // Digits with thousands separators, a fraction, an exponent: kept as plain
  // ASCII decimal text for from_chars.
  std::string number;
  size_t digits = 0;
  for (; p < n && (is_digit(s[p]) || s[p] == u','); ++p) {
    if (s[p] != u',') number += static_cast<char>(s[p]), ++digits;
  }
  if (p < n && s[p] == u'.') {
    number += '.';
    for (++p; p < n && is_digit(s[p]); ++p) number += static_cast<char>(s[p]), ++digits;
  }
  if (digits == 0) return DISP_E_TYPEMISMATCH;
  if (p < n && (s[p] == u'e' || s[p] == u'E')) {
    size_t q = p + 1;
    const bool exponent_sign = q < n && (s[q] == u'+' || s[q] == u'-');
    if (exponent_sign) ++q;
    if (q < n && is_digit(s[q])) {
      number += 'E';
      if (exponent_sign) number += static_cast<char>(s[p + 1]);
      for (p = q; p < n && is_digit(s[p]); ++p) number += static_cast<char>(s[p]);
    }
  }

  // Trailing white space, sign (when there was none in front) and parenthesis.
  bool closed = false;
  for (; p < n; ++p) {
    const OLECHAR c = s[p];
    if (is_white(c)) continue;
    if ((c == u'+' || c == u'-') && !sign) {
      sign = true;
      negative = c == u'-';
    } else if (c == u')' && parenthesis && !closed) {
      closed = true;
    } else {
      break;
    }
  }
  if (p != n || parenthesis != closed || (parenthesis && sign)) return DISP_E_TYPEMISMATCH;

  double value = 0;
  const char* end = number.data() + number.size();
  const auto result = std::from_chars(number.data(), end, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Beyond double: too large is an overflow, too small is zero.
    if (decimal_exponent(number) > 0) return DISP_E_OVERFLOW;
    value = 0;
  } else if (result.ec != std::errc() || result.ptr != end) {
    return DISP_E_TYPEMISMATCH;
  }
  out->is_bits = false;
  out->value = negative || parenthesis ? -value : value;
  return S_OK;
}

std::string format_real(double value, int digits) {
  if (std::isnan(value)) return std::signbit(value) ? "-1.#IND" : "1.#QNAN";
  if (std::isinf(value)) return value < 0 ? "-1.#INF" : "1.#INF";
  if (value == 0) return "0";

  // Decimal digits of the magnitude, and the power of ten of the first one.
  std::string mantissa;
  int exponent = 0;
  const auto expand = [&](int precision) {
    char text[800];
    const auto written = std::to_chars(text, text + sizeof text, std::fabs(value),
                                       std::chars_format::scientific, precision);
    const std::string_view all(text, static_cast<size_t>(written.ptr - text));
    const size_t e = all.find('e');
    mantissa.assign(1, all[0]);
    mantissa.append(all.substr(2, e - 2));  // the digits without the point
    // to_chars wrote the exponent: a sign, then digits to the end of the text.
    const char* digits_at = all.data() + e + 2;
    std::from_chars(digits_at, all.data() + all.size(), exponent);
    if (all[e + 1] == '-') exponent = -exponent;
  };
  // Two digits more than kept, correctly rounded, decide the rounding unless
  // they are "50": then only the exact expansion (at most 767 significant
  // digits) tells a tie from a value just below or above it.
  expand(digits + 1);
  if (mantissa.compare(static_cast<size_t>(digits), std::string::npos, "50") == 0) expand(780);

  // Round half away from zero to `digits` significant digits.
  const size_t keep = std::min(static_cast<size_t>(digits), mantissa.size());
  const bool up = keep < mantissa.size() && mantissa[keep] >= '5';
  mantissa.resize(keep);
  if (up) {
    size_t i = keep;
    while (i > 0 && mantissa[i - 1] == '9') mantissa[--i] = '0';
    if (i == 0) {
      mantissa.insert(mantissa.begin(), '1');
      mantissa.pop_back();
      ++exponent;
    } else {
      ++mantissa[i - 1];
    }
  }
  mantissa.erase(mantissa.find_last_not_of('0') + 1);

  // value = 0.<mantissa> x 10^point
  const int count = static_cast<int>(mantissa.size());
  const int point = exponent + 1;
  std::string out = value < 0 ? "-" : "";
  if (point > digits || (point <= 0 && count - point > digits)) {
    out += mantissa[0];
    if (count > 1) out += '.' + mantissa.substr(1);
    const int magnitude = exponent < 0 ? -exponent : exponent;
    out += exponent < 0 ? "E-" : "E+";
    if (magnitude < 10) out += '0';
    out += std::to_string(magnitude);
  } else if (point <= 0) {
    out += "0." + std::string(static_cast<size_t>(-point), '0') + mantissa;
  } else if (count <= point) {
    out += mantissa + std::string(static_cast<size_t>(point - count), '0');
  } else {
    out += mantissa.substr(0, static_cast<size_t>(point)) + '.' +
           mantissa.substr(static_cast<size_t>(point));
  }
  return out;
}

}  // namespace jtzcom
