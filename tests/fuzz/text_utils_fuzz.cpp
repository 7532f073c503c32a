// TakeToken splits every option and device string the program reads; the path helpers and the
// integer rules take text from command lines and settings. Input: a delimiter, a NUL, then the text
// (the whole input is also tried as a path and as a number).
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "fuzz_support.h"
#include "media/text_utils.h"

namespace {

void CheckTakeToken(const std::string& text, const std::string& delim) {
  const bool found = !delim.empty() && text.find(delim) != std::string::npos;
  std::string kept = text, head;
  qv::TakeToken(kept, delim, false, head);
  QV_FUZZ_CHECK(kept == text);
  QV_FUZZ_CHECK(text.compare(0, head.size(), head) == 0);
  if (!delim.empty()) QV_FUZZ_CHECK(head.find(delim) == std::string::npos);

  std::string rest = text;
  qv::TakeToken(rest, delim, true, head);
  QV_FUZZ_CHECK(head + (found ? delim : std::string()) + rest == text);
}

void CheckPath(const std::string& path) {
  const std::string name = qv::ExtractFileName(path);
  QV_FUZZ_CHECK(qv::ExtractFileDir(path) + name == path);
  QV_FUZZ_CHECK(name.find('/') == std::string::npos);
  const std::string withSeparator = qv::AddTrailingSeparator(path);
  QV_FUZZ_CHECK(withSeparator.back() == '/' && withSeparator.compare(0, path.size(), path) == 0);

  if (path.empty() || path[0] != '/') return;  // relative names depend on the current folder
  const std::string expanded = qv::ExpandFileName(path);
  QV_FUZZ_CHECK(!expanded.empty() && expanded[0] == '/');
  QV_FUZZ_CHECK(expanded.find("//") == std::string::npos);
  QV_FUZZ_CHECK((expanded + "/").find("/./") == std::string::npos);
  QV_FUZZ_CHECK((expanded + "/").find("/../") == std::string::npos);
  QV_FUZZ_CHECK(qv::ExpandFileName(expanded) == expanded);
}

bool PlainDecimal(const std::string& text) {
  std::size_t i = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  if (i >= text.size()) return false;
  for (; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

void CheckInteger(const std::string& text) {
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  const bool ok = qv::StrictInt(text, kMin, kMax, value);
  if (ok) {
    std::int64_t again = 0;
    QV_FUZZ_CHECK(qv::StrictInt(std::to_string(value), kMin, kMax, again) && again == value);
  }
  if (PlainDecimal(text)) {
    errno = 0;
    char* end = nullptr;
    const long long c = std::strtoll(text.c_str(), &end, 10);
    QV_FUZZ_CHECK(ok == (errno != ERANGE));
    if (ok) QV_FUZZ_CHECK(value == c);
  }
  // A narrower range accepts exactly the values of the full one that lie inside it.
  std::int64_t narrow = 0;
  const bool narrowOk = qv::StrictInt(text, -1000, 70000, narrow);
  QV_FUZZ_CHECK(narrowOk == (ok && value >= -1000 && value <= 70000));
  if (narrowOk) QV_FUZZ_CHECK(narrow == value);
  QV_FUZZ_CHECK(qv::IntOrDefault(text, -1000, 70000, 12345678) == (narrowOk ? narrow : 12345678));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  if (nul != std::string::npos) CheckTakeToken(input.substr(nul + 1), input.substr(0, nul));
  CheckTakeToken(input, ";");
  CheckPath(input);
  CheckInteger(input);
  return 0;
}
