// File names on their way to the media library: any name (any bytes, any length) is either refused
// as too long or handed over in a form that comes back as the same name; "unicode:" URLs from the
// library decode without harm. Runs in the "C" locale, whose ASCII charset makes every name with a
// non-ASCII byte take the "unicode:utf8:" path through iconv.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "media/unicode_url.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("LC_ALL", "C", 1);
  return 0;
}

namespace {

void CheckFileName(const std::string& name) {
  std::string url;
  try {
    url = qv::FileNameToURL(name);
  } catch (const qv::EFileNameTooLong&) {
    QV_FUZZ_CHECK(name.size() + sizeof(qv::kUnicodeUrlPrefix) - 1 >= qv::kMaxUrlBytes);
    return;
  }
  QV_FUZZ_CHECK(url.size() < qv::kMaxUrlBytes);
  // A name that already is a unicode URL is taken for one on the way back, by design.
  if (!qv::IsUnicodeURL(name)) QV_FUZZ_CHECK(qv::URLToFileNameUtf8(url) == name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  // Any bytes become valid UTF-8, which then is a fixed point of the conversion both ways.
  const std::wstring wide = qv::Utf8ToWide(text);
  const std::string utf8 = qv::WideToUtf8(wide);
  QV_FUZZ_CHECK(qv::Utf8ToWide(utf8) == wide);
  QV_FUZZ_CHECK(qv::WideToUtf8(qv::Utf8ToWide(utf8)) == utf8);

  QV_FUZZ_CHECK(qv::DecodeUnicodeURLUtf8(qv::EncodeUnicodeURL(text)) == text);
  QV_FUZZ_CHECK(qv::IsUnicodeURL(qv::EncodeUnicodeURL(text)) == !text.empty());
  QV_FUZZ_CHECK(qv::DecodeUnicodeURL(qv::EncodeUnicodeURL(wide)) == wide);

  CheckFileName(text);
  qv::URLToFileName(text);
  qv::NeedsUnicodeURL(wide);
  return 0;
}
