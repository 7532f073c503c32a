// String and path helpers. Paths use "/" as the separator.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// Head = the text of S before the first Delim (all of S when there is none). With Remove, S loses
// Head and the delimiter (S becomes empty when there was no delimiter).
void TakeToken(std::string& S, const std::string& Delim, bool Remove, std::string& Head);

// Appends "/" unless the path already ends with one.
std::string AddTrailingSeparator(const std::string& path);
// The folder part including its trailing "/" ("" when there is none) and the part after it.
std::string ExtractFileDir(const std::string& path);
std::string ExtractFileName(const std::string& path);
// An existing entry that is not a directory.
bool FileExists(const std::string& path);
// "" when the current directory cannot be read.
std::string GetCurrentDir();
bool SetCurrentDir(const std::string& path);
// "" when the variable is not set.
std::string GetEnvVar(const std::string& name);
// Absolute form of a name relative to the current directory, with "." and ".." resolved in the text
// (the name need not exist).
std::string ExpandFileName(const std::string& name);
// Size in bytes of an existing file; -1 when it cannot be read.
std::int64_t GetFileSize(const std::string& path);

// Integer conversions of option texts: optional sign, decimal digits, or "0x"/"$" hex; no blanks;
// the value must fit the target. StrictInt reports failure, IntOrDefault falls back.
bool StrictInt(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t& value);
std::int64_t IntOrDefault(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t fallback);

}  // namespace qv
