#include "app/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qv {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// "[name]" (anything after the closing bracket is ignored) -> true and the trimmed name.
bool IsHeader(const std::string& line, std::string* name) {
  std::string t = Trim(line);
  if (t.empty() || t[0] != '[') return false;
  size_t close = t.find(']');
  if (close == std::string::npos) return false;
  if (name) *name = Trim(t.substr(1, close - 1));
  return true;
}

bool IsComment(const std::string& trimmed) { return !trimmed.empty() && (trimmed[0] == ';' || trimmed[0] == '#'); }

// "key=value" -> the trimmed key; false for blank, comment and header lines.
bool KeyOf(const std::string& line, std::string* key, std::string* rawValue) {
  std::string t = Trim(line);
  if (t.empty() || IsComment(t) || t[0] == '[') return false;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  if (key) *key = Trim(t.substr(0, eq));
  if (rawValue) *rawValue = Trim(t.substr(eq + 1));
  return true;
}

std::string Unquote(const std::string& v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) return v.substr(1, v.size() - 2);
  return v;
}

// A value that would not read back as written (blanks at its ends, quotes around it) is quoted;
// line breaks cannot be stored in a line-based file and become blanks.
std::string Encode(std::string v) {
  for (char& c : v)
    if (c == '\n' || c == '\r') c = ' ';
  if (v.empty()) return v;
  bool edges = v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t';
  bool quoted = v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
  return (edges || quoted) ? "\"" + v + "\"" : v;
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {
  std::ifstream in(FFileName, std::ios::binary);
  if (!in) return;
  FExisted = true;
  std::ostringstream text;
  text << in.rdbuf();
  Parse(text.str());
}

TIniFile TIniFile::FromText(const std::string& text) {
  TIniFile ini;
  ini.Parse(text);
  return ini;
}

void TIniFile::Parse(const std::string& source) {
  std::string text = source;
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
    Bom = true;
    text.erase(0, 3);
  }
  Lines.clear();
  Breaks.clear();
  size_t crlf = 0, lf = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    // The last line may have no line feed; its ending is then empty, or a stray CR.
    const size_t nl = std::min(text.find('\n', pos), text.size() - 1);
    // Carriage returns before the line feed belong to the ending, so the value reads without them
    // and the line is written back with exactly the ending it had.
    size_t end = text[nl] == '\n' ? nl : nl + 1;
    while (end > pos && text[end - 1] == '\r') --end;
    Lines.push_back(text.substr(pos, end - pos));
    Breaks.push_back(text.substr(end, nl + 1 - end));
    if (Breaks.back() == "\n") ++lf;
    else if (Breaks.back() == "\r\n") ++crlf;
    pos = nl + 1;
  }
  FinalBreak = Breaks.empty() || !Breaks.back().empty();
  LineBreak = crlf > lf ? "\r\n" : "\n";
}

std::string TIniFile::Text() const {
  std::string out = Bom ? "\xEF\xBB\xBF" : "";
  for (size_t i = 0; i < Lines.size(); ++i) {
    out += Lines[i];
    if (i + 1 == Lines.size() && !FinalBreak) break;
    out += i < Breaks.size() && !Breaks[i].empty() ? Breaks[i] : LineBreak;
  }
  return out;
}

int TIniFile::FindSection(const std::string& section) const {
  std::string name;
  for (size_t i = 0; i < Lines.size(); ++i)
    if (IsHeader(Lines[i], &name) && SameText(name, section)) return int(i);
  return -1;
}

int TIniFile::SectionEnd(int header) const {
  for (size_t i = size_t(header) + 1; i < Lines.size(); ++i)
    if (IsHeader(Lines[i], nullptr)) return int(i);
  return int(Lines.size());
}

int TIniFile::FindKey(int header, const std::string& key) const {
  std::string name;
  for (int i = header + 1, end = SectionEnd(header); i < end; ++i)
    if (KeyOf(Lines[size_t(i)], &name, nullptr) && SameText(name, key)) return i;
  return -1;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  int header = FindSection(section);
  return header >= 0 && FindKey(header, key) >= 0;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  int header = FindSection(section);
  if (header < 0) return def;
  int line = FindKey(header, key);
  if (line < 0) return def;
  std::string raw;
  KeyOf(Lines[size_t(line)], nullptr, &raw);
  return Unquote(raw);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  std::string text = Trim(ReadString(section, key, ""));
  if (text.empty()) return def;
  const char* first = text.data();
  if (*first == '+') ++first;
  int value = 0;
  auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return def;
  return value;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::AddLine(size_t at, const std::string& line) {
  Lines.insert(Lines.begin() + std::ptrdiff_t(at), line);
  Breaks.insert(Breaks.begin() + std::ptrdiff_t(at), LineBreak);
  // A stray CR that ended the last line is no line break to a reader: the line added after it would
  // join it (and its key vanish) on the next read, so it gains the line feed it lacked.
  if (at == 0) return;
  std::string& before = Breaks[at - 1];
  if (!before.empty() && before.back() != '\n') before += '\n';
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  Dirty = true;
  std::string encoded = Encode(value);
  int header = FindSection(section);
  if (header < 0) {
    if (!Lines.empty() && !Trim(Lines.back()).empty()) AddLine(Lines.size(), "");
    AddLine(Lines.size(), "[" + section + "]");
    AddLine(Lines.size(), key + "=" + encoded);
    FinalBreak = true;
    return;
  }
  int line = FindKey(header, key);
  if (line >= 0) {
    std::string name;
    KeyOf(Lines[size_t(line)], &name, nullptr);
    Lines[size_t(line)] = name + "=" + encoded;  // the key keeps the spelling it had
    return;
  }
  // After the section's last key, so trailing comments and blank lines stay with the next section.
  int insertAt = header + 1;
  for (int i = header + 1, end = SectionEnd(header); i < end; ++i)
    if (KeyOf(Lines[size_t(i)], nullptr, nullptr)) insertAt = i + 1;
  AddLine(size_t(insertAt), key + "=" + encoded);
  if (size_t(insertAt) == Lines.size() - 1) FinalBreak = true;
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::UpdateFile() {
  if (!Dirty) return true;
  FLastError.clear();
  // Write through a symbolic link rather than replacing it.
  std::string target = FFileName;
  if (char* real = realpath(FFileName.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  mode_t mode = 0644;
  struct stat st;
  if (stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
  // The rename below would replace a file its owner made read-only (root may write anything).
  if (FExisted && (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    FLastError = "Unable to write to " + FFileName + " (the file is read-only)";
    return false;
  }
  std::string temp = target + ".XXXXXX";
  int fd = mkstemp(temp.data());
  auto fail = [&](const char* what) {
    FLastError = std::string("Unable to write to ") + FFileName + " (" + what + ": " + std::strerror(errno) + ")";
    return false;
  };
  if (fd < 0) return fail("create");
  std::string text = Text();
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      close(fd);
      unlink(temp.c_str());
      errno = saved;
      return fail("write");
    }
    p += n;
    left -= size_t(n);
  }
  fchmod(fd, mode);
  bool synced = fsync(fd) == 0;
  int syncErrno = errno;
  bool closed = close(fd) == 0;
  if (!synced || !closed) {
    int saved = synced ? errno : syncErrno;
    unlink(temp.c_str());
    errno = saved;
    return fail("write");
  }
  if (rename(temp.c_str(), target.c_str()) != 0) {
    int saved = errno;
    unlink(temp.c_str());
    errno = saved;
    return fail("rename");
  }
  Dirty = false;
  FExisted = true;
  return true;
}

}  // namespace qv
