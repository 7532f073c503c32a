#include "media/c_numbers.h"

#include <charconv>
#include <cmath>
#include <clocale>
#include <cstring>
#include <system_error>

namespace qv {

void UseEnvironmentLocale() {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
}

void KeepNumbersInCLocale() {
  // Only when needed: setting a locale while other threads read numbers is not safe.
  const char* numeric = std::setlocale(LC_NUMERIC, nullptr);
  if (!numeric || std::strcmp(numeric, "C") != 0) std::setlocale(LC_NUMERIC, "C");
}

bool ParseDecimal(std::string_view text, double& out) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty() || text[0] == '+') return false;
  // from_chars would take "inf", "nan" and "infinity"; a plain decimal number is meant.
  for (char c : text)
    if ((c < '0' || c > '9') && c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E') return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out, std::chars_format::general);
  return ec == std::errc() && ptr == end;
}

std::string FormatDecimal(double value) {
  // Plain digits where they stay short ("1000000", not "1e+06"), an exponent beyond.
  char buf[64];
  const double size = std::fabs(value);
  const bool plain = value == 0 || (size >= 1e-5 && size < 1e16);
  auto [ptr, ec] = plain ? std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::fixed)
                         : std::to_chars(buf, buf + sizeof(buf), value);
  return ec == std::errc() ? std::string(buf, ptr) : std::string();
}

}  // namespace qv
