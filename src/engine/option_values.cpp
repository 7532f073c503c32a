#include "engine/option_values.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "engine/custom_ffmpeg.h"
#include "media/c_numbers.h"
#include "media/ff_api.h"
#include "media/text_utils.h"

namespace qv {

namespace {

// Leading blanks are allowed, trailing ones are not (the run-time library's conversion rules).
bool ParseInteger(const std::string& value, long long& out) {
  size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  std::int64_t v = 0;
  if (!StrictInt(value.substr(i), INT64_MIN, INT64_MAX, v)) return false;
  out = v;
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
  double d = 0;
  if (!ParseDecimal(std::string_view(value).substr(i), d))
    RaiseFFmpegFmt("'%s' is not a valid floating point value", value.c_str());
  return d;
}

void CheckRange(const std::string& option, double value, double lowest, double highest) {
  if (!(value >= lowest && value <= highest))
    RaiseFFmpegFmt("The value for %s was %s which is not within %s - %s", option.c_str(), FormatDecimal(value).c_str(),
                   FormatDecimal(lowest).c_str(), FormatDecimal(highest).c_str());
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
