#include "media/unicode_url.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "media/c_numbers.h"

namespace qv {

namespace {

// Converts `in` between charsets; false when a character cannot be represented or is invalid.
bool Convert(const std::string& in, const char* from, const char* to, std::string& out) {
  out.clear();
  if (in.empty()) return true;
  iconv_t cd = iconv_open(to, from);
  if (cd == iconv_t(-1)) return false;
  std::string src = in;
  char* inp = src.data();
  size_t inLeft = src.size();
  char chunk[1024];
  bool ok = true;
  while (inLeft > 0) {
    char* outp = chunk;
    size_t outLeft = sizeof(chunk);
    size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    out.append(chunk, size_t(outp - chunk));
    if (r == size_t(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  if (ok) {
    char* outp = chunk;
    size_t outLeft = sizeof(chunk);
    iconv(cd, nullptr, nullptr, &outp, &outLeft);
    out.append(chunk, size_t(outp - chunk));
  }
  iconv_close(cd);
  return ok;
}

bool IsUtf8Charset(const std::string& cs) { return cs == "UTF-8" || cs == "utf8" || cs == "UTF8"; }

bool InProtocolList(const std::string& name) {
  auto colon = name.find(':');
  if (colon == std::string::npos) return false;
  std::string word = ":" + name.substr(0, colon) + ":";
  return std::strstr(kProtocolList, word.c_str()) != nullptr;
}

}  // namespace

std::string LocaleCharset() {
  static std::once_flag once;
  std::call_once(once, [] {
    // A program that never chose a locale still runs in "C"; take the user's from the environment.
    const char* current = setlocale(LC_CTYPE, nullptr);
    if (!current || std::strcmp(current, "C") == 0) UseEnvironmentLocale();
  });
  const char* cs = nl_langinfo(CODESET);
  return cs && *cs ? cs : "ANSI_X3.4-1968";
}

std::wstring Utf8ToWide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int extra;
    char32_t cp;
    if (c < 0x80) {
      extra = 0;
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      out.push_back(L'\xFFFD');
      ++i;
      continue;
    }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if (i + size_t(k) >= n) {
        ok = false;
        break;
      }
      unsigned char cc = static_cast<unsigned char>(text[i + size_t(k)]);
      if ((cc & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(L'\xFFFD');
      ++i;
      continue;
    }
    out.push_back(wchar_t(cp));
    i += size_t(extra) + 1;
  }
  return out;
}

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    char32_t cp = char32_t(wc);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
      out.push_back(char(cp));
    } else if (cp < 0x800) {
      out.push_back(char(0xC0 | (cp >> 6)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(char(0xE0 | (cp >> 12)));
      out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (cp >> 18)));
      out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

bool NeedsUnicodeURL(const std::string& utf8Name) {
  if (InProtocolList(utf8Name)) return false;
  std::string charset = LocaleCharset();
  if (IsUtf8Charset(charset)) return false;
  // iconv without transliteration is exact: a name that converts at all comes back unchanged.
  std::string converted, back;
  if (!Convert(utf8Name, "UTF-8", charset.c_str(), converted)) return true;
  if (!Convert(converted, charset.c_str(), "UTF-8", back)) return true;
  return back != utf8Name;
}

bool NeedsUnicodeURL(const std::wstring& name) { return NeedsUnicodeURL(WideToUtf8(name)); }

bool IsUnicodeURL(const std::string& text) {
  const size_t prefix = sizeof(kUnicodeUrlPrefix) - 1;
  return text.size() >= prefix + 1 && text.compare(0, prefix, kUnicodeUrlPrefix) == 0;
}

std::string EncodeUnicodeURL(const std::string& utf8Name) { return kUnicodeUrlPrefix + utf8Name; }

std::string EncodeUnicodeURL(const std::wstring& name) { return EncodeUnicodeURL(WideToUtf8(name)); }

std::string DecodeUnicodeURLUtf8(const std::string& text) {
  // Drop through the first ':' and then through the next one; the words themselves are not checked.
  std::string rest = text;
  for (int i = 0; i < 2; ++i) {
    auto colon = rest.find(':');
    if (colon == std::string::npos) break;
    rest.erase(0, colon + 1);
  }
  return rest;
}

std::wstring DecodeUnicodeURL(const std::string& text) { return Utf8ToWide(DecodeUnicodeURLUtf8(text)); }

std::string FileNameToURL(const std::string& utf8Name) {
  std::string text;
  if (NeedsUnicodeURL(utf8Name)) {
    text = EncodeUnicodeURL(utf8Name);
  } else {
    std::string charset = LocaleCharset();
    if (IsUtf8Charset(charset) || !Convert(utf8Name, "UTF-8", charset.c_str(), text)) text = utf8Name;
  }
  if (text.size() >= kMaxUrlBytes)
    throw EFileNameTooLong("File name too long: " + std::to_string(text.size()) + " bytes after conversion, at most " +
                           std::to_string(kMaxUrlBytes - 1) + " are accepted: " + utf8Name.substr(0, 64) + "...");
  return text;
}

std::string FileNameToURL(const std::wstring& name) { return FileNameToURL(WideToUtf8(name)); }

std::string URLToFileNameUtf8(const std::string& url) {
  if (IsUnicodeURL(url)) return DecodeUnicodeURLUtf8(url);
  std::string charset = LocaleCharset();
  std::string out;
  if (IsUtf8Charset(charset) || !Convert(url, charset.c_str(), "UTF-8", out)) return url;
  return out;
}

std::wstring URLToFileName(const std::string& url) { return Utf8ToWide(URLToFileNameUtf8(url)); }

}  // namespace qv
