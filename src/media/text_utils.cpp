#include "media/text_utils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <vector>

namespace qv {

void TakeToken(std::string& S, const std::string& Delim, bool Remove, std::string& Head) {
  const std::string::size_type p = Delim.empty() ? std::string::npos : S.find(Delim);
  if (p == std::string::npos) {
    Head = S;
    if (Remove) S.clear();
    return;
  }
  Head = S.substr(0, p);
  if (Remove) S.erase(0, p + Delim.size());
}

std::string AddTrailingSeparator(const std::string& path) {
  if (!path.empty() && path.back() == '/') return path;
  return path + '/';
}

std::string ExtractFileDir(const std::string& path) {
  const std::string::size_type p = path.rfind('/');
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string ExtractFileName(const std::string& path) {
  const std::string::size_type p = path.rfind('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string GetCurrentDir() {
  std::vector<char> buf(256);
  for (;;) {
    if (::getcwd(buf.data(), buf.size())) return buf.data();
    if (errno != ERANGE) return std::string();
    buf.resize(buf.size() * 2);
  }
}

bool SetCurrentDir(const std::string& path) { return !path.empty() && ::chdir(path.c_str()) == 0; }

std::string GetEnvVar(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v ? std::string(v) : std::string();
}

std::string ExpandFileName(const std::string& name) {
  if (name.empty()) return name;
  const std::string full = name[0] == '/' ? name : AddTrailingSeparator(GetCurrentDir()) + name;
  std::vector<std::string> parts;
  std::string rest = full.substr(1), part;
  while (!rest.empty()) {
    TakeToken(rest, "/", true, part);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (const std::string& p : parts) out += '/' + p;
  if (out.empty() || (full.back() == '/' && full.size() > 1)) out += '/';
  return out;
}

std::int64_t GetFileSize(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  if (::access(path.c_str(), R_OK) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool StrictInt(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  // Accumulate as a magnitude in unsigned 64 bits so that the full int64 range converts.
  unsigned long long magnitude = 0;
  const unsigned long long limit = negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull;
  for (; i < text.size(); ++i) {
    const int c = static_cast<unsigned char>(text[i]);
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    if (magnitude > (limit - static_cast<unsigned>(digit)) / static_cast<unsigned>(base)) return false;
    magnitude = magnitude * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
  }
  std::int64_t v;
  if (negative) v = magnitude == 0x8000000000000000ull ? std::numeric_limits<std::int64_t>::min()
                                                       : -static_cast<std::int64_t>(magnitude);
  else v = static_cast<std::int64_t>(magnitude);
  if (v < min || v > max) return false;
  value = v;
  return true;
}

std::int64_t IntOrDefault(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t fallback) {
  std::int64_t v = 0;
  return StrictInt(text, min, max, v) ? v : fallback;
}

}  // namespace qv
