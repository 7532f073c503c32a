#include "media/text_utils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

}  // namespace qv
