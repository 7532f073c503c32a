// The settings file reader/writer. It edits the file in place the way the desktop's profile
// functions do: a missing key yields the caller's default, writing a key replaces its line or adds
// it to its section, and every other line (comments, unknown keys and sections, blank lines, the
// line-ending style) is kept as it was.
#pragma once

#include <string>
#include <vector>

namespace qv {

class TIniFile {
 public:
  // Reads the file at once; a missing file reads as empty (and is created by the first update).
  explicit TIniFile(std::string fileName);
  static TIniFile FromText(const std::string& text);

  const std::string& FileName() const { return FFileName; }
  bool Existed() const { return FExisted; }

  // Section and key names compare without regard to ASCII case; surrounding blanks are ignored and
  // one pair of matching quotes around a value is removed.
  bool ValueExists(const std::string& section, const std::string& key) const;
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  // The whole (trimmed) text must be a decimal integer, else `def`.
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  // An integer; anything but 0 is true.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

  // Writes the changes back (a new file beside the old one, then renamed over it, so a failed
  // write never leaves half a settings file). A file without write permission is the user's
  // choice and is never replaced, even by root. False with LastError when that fails.
  bool UpdateFile();
  const std::string& LastError() const { return FLastError; }

  std::string Text() const;

 private:
  TIniFile() = default;
  void Parse(const std::string& text);
  // Index of the section's header line, or -1 (lines before any header form section "").
  int FindSection(const std::string& section) const;
  // Index of the key's line within the section that starts after `header`, or -1.
  int FindKey(int header, const std::string& key) const;
  int SectionEnd(int header) const;
  void AddLine(size_t at, const std::string& line);

  std::string FFileName;
  std::vector<std::string> Lines;
  // Each line's own ending ("\n", "\r\n", or a stray "\r\r\n"...), kept as it was read; new lines take
  // the file's most common ending. A stray CR ending the last line gains a line feed when a line is
  // added after it.
  std::vector<std::string> Breaks;
  std::string LineBreak = "\n";
  bool Bom = false;
  bool FinalBreak = true;
  bool FExisted = false;
  bool Dirty = false;
  std::string FLastError;
};

}  // namespace qv
