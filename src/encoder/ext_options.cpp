#include "encoder/ext_options.h"

#include <cmath>
#include <ctime>

namespace qv {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsSpace(s[b])) ++b;
  while (e > b && IsSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

bool OneOf(const std::string& key, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (key == n) return true;
  return false;
}

}  // namespace

std::vector<TOptionLine> ParseOptionText(const std::string& text) {
  std::string t = Trim(text);
  // "<CRLF>" first, then every kind of line break becomes LF.
  std::string normal;
  normal.reserve(t.size());
  for (size_t i = 0; i < t.size();) {
    if (t.compare(i, 6, "<CRLF>") == 0) {
      normal += '\n';
      i += 6;
    } else if (t[i] == '\r') {
      normal += '\n';
      i += (i + 1 < t.size() && t[i + 1] == '\n') ? 2 : 1;
    } else {
      normal += t[i++];
    }
  }
  std::vector<TOptionLine> lines;
  size_t pos = 0;
  while (pos <= normal.size()) {
    size_t end = normal.find('\n', pos);
    if (end == std::string::npos) end = normal.size();
    std::string line = normal.substr(pos, end - pos);
    pos = end + 1;
    if (Trim(line).empty()) continue;
    TOptionLine l;
    size_t eq = line.find('=');
    // Option names never hold blanks; trimming them keeps "vcodec = x" from becoming an unknown name.
    l.Key = Lower(Trim(eq == std::string::npos ? line : line.substr(0, eq)));
    if (eq != std::string::npos) l.Value = line.substr(eq + 1);
    lines.push_back(std::move(l));
  }
  return lines;
}

bool IsHeldBackInputKey(const std::string& key) {
  return OneOf(key, {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf"});
}

bool IsHeldBackOutputKey(const std::string& key) {
  return IsHeldBackInputKey(key) || OneOf(key, {"acodec", "vcodec", "scodec", "s"});
}

std::string TimestampOptionText(double timestamp) {
  if (!(timestamp >= 0) || !std::isfinite(timestamp)) return "";
  if (timestamp == 0) return "now";
  // Days since 1899-12-30 in local wall-clock time; mktime applies the time-zone bias.
  double days = std::floor(timestamp);
  double secondsOfDay = std::round((timestamp - days) * 86400.0);
  std::tm tm{};
  tm.tm_year = 1899 - 1900;
  tm.tm_mon = 11;
  tm.tm_mday = 30 + int(days);  // mktime normalises the day count into a date
  tm.tm_sec = int(secondsOfDay);
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  if (t == std::time_t(-1) && !(tm.tm_year == 69 && tm.tm_mon == 11 && tm.tm_mday == 31)) return "";
  std::tm utc{};
  if (!gmtime_r(&t, &utc)) return "";
  char buf[32];
  std::strftime(buf, sizeof(buf), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return buf;
}

}  // namespace qv
