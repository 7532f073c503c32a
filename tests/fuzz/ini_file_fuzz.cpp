// The settings file is read at every start and written back by the options window; users edit it by
// hand. Input: the file's text, then optionally a NUL and lines "Section|Key|Value" to write.
// Checked: an untouched file is written back byte for byte; a written value reads back as written,
// in memory and after the text is parsed again; every value not written reads as it did before.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/ini_file.h"
#include "fuzz_support.h"

namespace {

struct TWrite {
  std::string Section, Key, Value;
};

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return s;
}

std::string Trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t\r");
  return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// The names the program writes are its own constants; these are the names a line-based file can hold
// at all (a key with "=" or a section with "]" could never be read back, by design).
bool UsableName(const std::string& name, const char* forbidden) {
  if (name.empty() || name != Trim(name) || name.find_first_of("\r\n") != std::string::npos) return false;
  if (name.find_first_of(forbidden) != std::string::npos) return false;
  return name.front() != ';' && name.front() != '#' && name.front() != '[';
}

std::vector<TWrite> ParseWrites(const std::string& ops) {
  std::vector<TWrite> writes;
  for (const std::string& line : qv::fuzz::SplitLines(ops)) {
    const std::size_t a = line.find('|'), b = a == std::string::npos ? a : line.find('|', a + 1);
    if (b == std::string::npos) continue;
    TWrite w{line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)};
    // Only the value may carry line breaks, as "\\n" (the op list is itself line-based).
    for (std::size_t at; (at = w.Value.find("\\n")) != std::string::npos;) w.Value.replace(at, 2, "\n");
    if (UsableName(w.Section, "]") && UsableName(w.Key, "=")) writes.push_back(std::move(w));
  }
  return writes;
}

// What a written value reads back as: a line cannot hold a line break, so those become blanks.
std::string ReadBackOf(std::string value) {
  for (char& c : value)
    if (c == '\r' || c == '\n') c = ' ';
  return value;
}

// Section and key of every line of `text` that looks like "key=value", roughly as a reader would
// see them; they are only questions to ask both files, so a rough guess does no harm.
std::vector<std::pair<std::string, std::string>> KeysOf(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> keys;
  std::string section;
  for (const std::string& raw : qv::fuzz::SplitLines(text)) {
    const std::string line = Trim(raw);
    if (!line.empty() && line[0] == '[' && line.find(']') != std::string::npos)
      section = Trim(line.substr(1, line.find(']') - 1));
    else if (line.find('=') != std::string::npos)
      keys.emplace_back(section, Trim(line.substr(0, line.find('='))));
  }
  return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string file = input.substr(0, nul);
  const std::vector<TWrite> writes = nul == std::string::npos ? std::vector<TWrite>() : ParseWrites(input.substr(nul + 1));

  const qv::TIniFile original = qv::TIniFile::FromText(file);
  QV_FUZZ_CHECK(original.Text() == file);

  qv::TIniFile edited = qv::TIniFile::FromText(file);
  std::map<std::pair<std::string, std::string>, std::string> written;  // lower-cased names -> read-back value
  for (const TWrite& w : writes) {
    edited.WriteString(w.Section, w.Key, w.Value);
    QV_FUZZ_CHECK(edited.ReadString(w.Section, w.Key, "\x01") == ReadBackOf(w.Value));
    written[{Lower(w.Section), Lower(w.Key)}] = ReadBackOf(w.Value);
  }

  const std::string text = edited.Text();
  const qv::TIniFile reread = qv::TIniFile::FromText(text);
  QV_FUZZ_CHECK(reread.Text() == text);
  for (const auto& [names, value] : written) QV_FUZZ_CHECK(reread.ReadString(names.first, names.second, "\x01") == value);
  for (const auto& [section, key] : KeysOf(file)) {
    if (written.count({Lower(section), Lower(key)})) continue;
    QV_FUZZ_CHECK(reread.ReadString(section, key, "\x01") == original.ReadString(section, key, "\x01"));
  }
  return 0;
}
