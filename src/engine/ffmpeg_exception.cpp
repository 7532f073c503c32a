#include "engine/ffmpeg_exception.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace qv {

namespace {
std::string VFormat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof(small), format, copy);
  va_end(copy);
  if (n < 0) return format;
  if (size_t(n) < sizeof(small)) return std::string(small, size_t(n));
  std::vector<char> big(size_t(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  return std::string(big.data(), size_t(n));
}
}  // namespace

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = VFormat(format, args);
  va_end(args);
  return s;
}

void RaiseFFmpeg(const std::string& message) { throw FFmpegException(message); }

void RaiseFFmpegFmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = VFormat(format, args);
  va_end(args);
  throw FFmpegException(s);
}

}  // namespace qv
