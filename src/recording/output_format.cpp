#include "recording/output_format.h"

#include <algorithm>
#include <cctype>

namespace qv {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

// Where the extension's dot is in the name's last part, or npos. A leading dot names a hidden
// file, not an extension.
std::size_t ExtensionDot(const std::string& fileName) {
  const std::size_t slash = fileName.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || dot <= start) return std::string::npos;
  return dot;
}

// The item of `items` whose name is `text` in any case.
template <typename T, std::size_t N>
bool ParseName(const std::string& text, const T (&items)[N], std::string (*name)(T), T& item) {
  for (T known : items)
    if (Lower(text) == name(known)) {
      item = known;
      return true;
    }
  return false;
}

std::string KnownExtensions() {
  std::string list;
  for (TOutputFormat format : kOutputFormats) list += (list.empty() ? "." : ", .") + FormatName(format);
  return list;
}

}  // namespace

bool IsOfferedFrameRate(int fps) {
  return std::find(std::begin(kFrameRates), std::end(kFrameRates), fps) != std::end(kFrameRates);
}

std::string FormatName(TOutputFormat format) {
  switch (format) {
    case TOutputFormat::Mkv: return "mkv";
    case TOutputFormat::Mp4: return "mp4";
    case TOutputFormat::Avi: break;
  }
  return "avi";
}

std::string FormatTitle(TOutputFormat format) {
  switch (format) {
    case TOutputFormat::Mkv: return "MKV \u2013 H.264 / Opus";
    case TOutputFormat::Mp4: return "MP4 \u2013 H.264 / AAC";
    case TOutputFormat::Avi: break;
  }
  return "AVI \u2013 MS-MPEG4 v2 / MS ADPCM";
}

bool ParseOutputFormat(const std::string& text, TOutputFormat& format) {
  return ParseName(text, kOutputFormats, FormatName, format);
}

bool UsesH264(TOutputFormat format) { return format != TOutputFormat::Avi; }

std::string QualityName(TVideoQuality quality) {
  switch (quality) {
    case TVideoQuality::High: return "high";
    case TVideoQuality::Low: return "low";
    case TVideoQuality::Medium: break;
  }
  return "medium";
}

bool ParseVideoQuality(const std::string& text, TVideoQuality& quality) {
  return ParseName(text, kVideoQualities, QualityName, quality);
}

int QualityCrf(TVideoQuality quality) {
  // Text on a desktop stays sharp at 18 and readable at 28; x264's own default is 23.
  switch (quality) {
    case TVideoQuality::High: return 18;
    case TVideoQuality::Low: return 28;
    case TVideoQuality::Medium: break;
  }
  return 23;
}

std::string MatchFormatToFileName(std::string& fileName, TOutputFormat& format) {
  const std::size_t dot = ExtensionDot(fileName);
  if (dot == std::string::npos || dot + 1 == fileName.size()) {
    if (dot != std::string::npos) fileName.pop_back();
    fileName += "." + FormatName(format);
    return "";
  }
  const std::string extension = fileName.substr(dot + 1);
  if (ParseOutputFormat(extension, format)) return "";
  return "the file name's extension \"." + extension + "\" names no format this program writes (" +
         KnownExtensions() + ")";
}

}  // namespace qv
