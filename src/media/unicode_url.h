// File names on their way to the media library. The library takes 8-bit names; a name the locale's
// charset cannot carry is handed over as "unicode:utf8:<name>" and served by the "unicode" protocol.
// Names that survive the charset, and URLs of the library's network and stream protocols, pass
// unchanged. Wide names (std::wstring) are the component's boundary form; UTF-8 std::string is the
// form inside the program, so both are accepted.
#pragma once

#include <stdexcept>
#include <string>

namespace qv {

// The URL prefix and the words that mark a name as a URL that is never converted.
inline constexpr char kUnicodeUrlPrefix[] = "unicode:utf8:";  // 13 bytes
inline constexpr char kProtocolList[] = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";
// A converted name must fit 2047 bytes plus its terminating zero; longer names are refused.
inline constexpr std::size_t kMaxUrlBytes = 2048;

// Raised when a converted name would not fit kMaxUrlBytes; the message names the file.
class EFileNameTooLong : public std::length_error {
 public:
  using std::length_error::length_error;
};

// The locale's charset ("ANSI code page"). Calls setlocale(LC_ALL, "") once if the program has not
// chosen a locale yet (the "C" locale counts as not chosen only for that first call).
std::string LocaleCharset();

bool NeedsUnicodeURL(const std::wstring& name);
bool NeedsUnicodeURL(const std::string& utf8Name);
bool IsUnicodeURL(const std::string& text);
// UTF-8 of "unicode:utf8:" + name.
std::string EncodeUnicodeURL(const std::wstring& name);
std::string EncodeUnicodeURL(const std::string& utf8Name);
// Drops everything up to the second ':' (the prefix itself is not compared).
std::wstring DecodeUnicodeURL(const std::string& text);
std::string DecodeUnicodeURLUtf8(const std::string& text);

// The text to hand to the library for a name: the unicode URL when needed, else the name in the
// locale's charset. Throws EFileNameTooLong for a result of kMaxUrlBytes bytes or more.
std::string FileNameToURL(const std::wstring& name);
std::string FileNameToURL(const std::string& utf8Name);
// The reverse, for texts from FileNameToURL or from the library.
std::wstring URLToFileName(const std::string& url);
std::string URLToFileNameUtf8(const std::string& url);

// UTF-8 <-> wide helpers used above (invalid UTF-8 bytes become U+FFFD).
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

}  // namespace qv
