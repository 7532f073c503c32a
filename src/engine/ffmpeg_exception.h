// The engine's one exception class: its message is the text the user sees. Components turn it into
// -1/false and LastError; it never crosses a C callback.
#pragma once

#include <stdexcept>
#include <string>

namespace qv {

class FFmpegException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

[[noreturn]] void RaiseFFmpeg(const std::string& message);
[[noreturn]] void RaiseFFmpegFmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qv
