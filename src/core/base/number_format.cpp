#include "core/base/number_format.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace ril {

namespace {

struct Pattern {
  std::string prefix;
  std::string suffix;
  int intZeros = 0;
  int decimals = 0;
  bool percent = false;
};

Pattern parsePattern(std::string_view p) {
  Pattern out;
  int state = 0;  // 0 prefix, 1 integer digits, 2 fraction digits, 3 suffix
  for (char c : p) {
    if (c == '%') out.percent = true;
    bool digit = c == '0' || c == '#';
    if (state <= 1 && digit) {
      state = 1;
      if (c == '0') ++out.intZeros;
    } else if (state <= 1 && c == '.') {
      state = 2;
    } else if (state == 2 && digit) {
      if (c == '0') ++out.decimals;
    } else {
      if (state == 0) {
        out.prefix += c;
      } else {
        state = 3;
        out.suffix += c;
      }
    }
  }
  return out;
}

}  // namespace

std::string formatNumber(double value, std::string_view pattern, char decimalSeparator) {
  Pattern pat = parsePattern(pattern);
  if (!std::isfinite(value)) {
    return pat.prefix +
           (std::isnan(value) ? "NaN"
            : value < 0       ? "-Infinity"
                              : "Infinity") +
           pat.suffix;
  }
  // The value's magnitude to 15 significant digits: d.dddddddddddddde±XX.
  char buf[64];
  auto res =
      std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
  std::string sci(buf, res.ptr);
  std::size_t epos = sci.find('e');
  std::string digits;
  for (std::size_t i = 0; i < epos; ++i)
    if (sci[i] != '.') digits += sci[i];
  int exponent = std::atoi(sci.c_str() + epos + 1);  // digits[0] stands for 10^exponent
  if (pat.percent) exponent += 2;

  // Keep the digits down to 10^-decimals, round half away from zero on the next one.
  int keep = exponent + pat.decimals + 1;
  std::string kept;
  int roundDigit = 0;
  if (keep >= 0) {
    for (int k = 0; k < keep; ++k) kept += k < static_cast<int>(digits.size()) ? digits[k] : '0';
    if (keep < static_cast<int>(digits.size())) roundDigit = digits[keep] - '0';
  }
  if (kept.empty()) kept = "0";
  if (roundDigit >= 5) {
    int i = static_cast<int>(kept.size()) - 1;
    while (i >= 0 && kept[i] == '9') kept[i--] = '0';
    if (i >= 0) {
      ++kept[i];
    } else {
      kept.insert(kept.begin(), '1');
    }
  }
  // kept is the value times 10^decimals as a whole number.
  if (static_cast<int>(kept.size()) < pat.decimals + 1)
    kept.insert(0, static_cast<std::size_t>(pat.decimals + 1) - kept.size(), '0');
  std::string intPart = kept.substr(0, kept.size() - static_cast<std::size_t>(pat.decimals));
  std::string fracPart = kept.substr(kept.size() - static_cast<std::size_t>(pat.decimals));
  std::size_t nz = intPart.find_first_not_of('0');
  intPart = nz == std::string::npos ? std::string() : intPart.substr(nz);
  if (static_cast<int>(intPart.size()) < pat.intZeros)
    intPart.insert(0, static_cast<std::size_t>(pat.intZeros) - intPart.size(), '0');
  bool isZero = kept.find_first_not_of('0') == std::string::npos;

  std::string out = pat.prefix;
  if (value < 0 && !isZero) out += '-';
  out += intPart;
  if (pat.decimals > 0) {
    out += decimalSeparator;
    out += fracPart;
  }
  out += pat.suffix;
  return out;
}

std::string formatGeneral(float value, char decimalSeparator) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 7);
  std::string s(buf, res.ptr);
  if (s.find('e') == std::string::npos && s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  for (char& c : s)
    if (c == '.') c = decimalSeparator;
  if (s == "-0") s = "0";
  return s;
}

}  // namespace ril
