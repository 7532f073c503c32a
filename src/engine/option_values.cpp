#include "engine/option_values.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "engine/custom_ffmpeg.h"
#include "media/ff_api.h"

namespace qv {

namespace {

// Leading blanks are allowed, trailing ones are not (the run-time library's conversion rules).
bool ParseInteger(const std::string& value, long long& out) {
  size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  std::string s = value.substr(i);
  if (s.empty()) return false;
  bool neg = false;
  size_t p = 0;
  if (s[p] == '+' || s[p] == '-') {
    neg = s[p] == '-';
    ++p;
  }
  int base = 10;
  if (p < s.size() && s[p] == '$') {
    base = 16;
    ++p;
  } else if (p + 1 < s.size() && s[p] == '0' && (s[p + 1] == 'x' || s[p + 1] == 'X')) {
    base = 16;
    p += 2;
  }
  if (p >= s.size()) return false;
  unsigned long long acc = 0;
  for (; p < s.size(); ++p) {
    int c = static_cast<unsigned char>(s[p]);
    int d;
    if (std::isdigit(c))
      d = c - '0';
    else if (base == 16 && std::isxdigit(c))
      d = std::tolower(c) - 'a' + 10;
    else
      return false;
    acc = acc * unsigned(base) + unsigned(d);
    if (acc > (unsigned long long)LLONG_MAX + (neg ? 1 : 0)) return false;
  }
  out = neg ? -(long long)acc : (long long)acc;
  if (neg && acc == (unsigned long long)LLONG_MAX + 1) out = LLONG_MIN;
  return true;
}

}  // namespace

bool ParseBoolValue(const std::string& value) { return value != "0"; }

int ParseIntValue(const std::string& value) {
  long long v;
  if (!ParseInteger(value, v) || v < INT_MIN || v > INT_MAX)
    RaiseFFmpegFmt("'%s' is not a valid integer value", value.c_str());
  return int(v);
}

std::int64_t ParseInt64Value(const std::string& value) {
  long long v;
  if (!ParseInteger(value, v)) RaiseFFmpegFmt("'%s' is not a valid integer value", value.c_str());
  return v;
}

double ParseFloatValue(const std::string& value) {
  size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  const char* start = value.c_str() + i;
  char* end = nullptr;
  errno = 0;
  double d = std::strtod(start, &end);
  // strtod would also take "inf", "nan" and hexadecimal floats; a plain decimal number is meant.
  bool plain = *start && end != start && *end == '\0' && errno == 0;
  for (const char* p = start; plain && p < end; ++p)
    if (std::isalpha(static_cast<unsigned char>(*p)) && *p != 'e' && *p != 'E') plain = false;
  if (!plain) RaiseFFmpegFmt("'%s' is not a valid floating point value", value.c_str());
  return d;
}

std::int64_t ParseTimeValue(const std::string& option, const std::string& value, bool isDuration) {
  std::int64_t us = 0;
  if (ff::av_parse_time(&us, value.c_str(), isDuration ? 1 : 0) < 0)
    RaiseFFmpegFmt("Invalid %s specification for %s: %s", isDuration ? "duration" : "date", option.c_str(),
                   value.c_str());
  return us;
}

long ReadLeadingInt(const std::string& text, std::size_t& pos) {
  if (pos >= text.size()) return 0;
  const char* start = text.c_str() + pos;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(start, &end, 0);
  if (errno == ERANGE) v = v < 0 ? INT_MIN : INT_MAX;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  pos += size_t(end - start);
  return v;
}

std::string ProgramFolder() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return "./";
  std::string path(buf, size_t(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

}  // namespace qv
