// What the fuzz targets share: a property check that stops the run the way a crash does, so a broken
// promise is reported, minimised and kept as an artifact like any other finding; and the splitting
// of an input into lines, the form most targets take their input in; the input as a file, for the
// targets whose parser reads files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define QV_FUZZ_CHECK(condition)                                                               \
  do {                                                                                         \
    if (!(condition)) {                                                                        \
      std::fprintf(stderr, "fuzz: %s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                            \
    }                                                                                          \
  } while (0)

namespace qv::fuzz {

// The lines of `text` without their "\n" (a "\r" stays); no line for a final "\n".
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

// Writes the input whole to `path`, replacing what a previous input left there.
inline void WriteInputFile(const char* path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path, "wb");
  QV_FUZZ_CHECK(file != nullptr);
  const bool written = std::fwrite(data, 1, size, file) == size;
  QV_FUZZ_CHECK(std::fclose(file) == 0 && written);
}

}  // namespace qv::fuzz
