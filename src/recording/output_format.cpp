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

const TFormatFacts& FactsOf(TOutputFormat format) {
  // In TOutputFormat's order.
  static const TFormatFacts kFacts[] = {
      {"avi", "AVI \u2013 MS-MPEG4 v2 / MS ADPCM", "avi", "adpcm_ms", "MS ADPCM"},
      {"mkv", "MKV \u2013 H.264 / Opus", "matroska", "libopus", "Opus"},
      {"mp4", "MP4 \u2013 H.264 / AAC", "mp4", "aac", "AAC"},
  };
  return kFacts[int(format)];
}

std::string FormatName(TOutputFormat format) { return FactsOf(format).Name; }

std::string FormatTitle(TOutputFormat format) { return FactsOf(format).Title; }

bool ParseOutputFormat(const std::string& text, TOutputFormat& format) {
  return ParseName(text, kOutputFormats, FormatName, format);
}

bool UsesH264(TOutputFormat format) { return format != TOutputFormat::Avi; }

std::string QualityName(TVideoQuality quality) {
  static const char* const kNames[] = {"high", "medium", "low"};  // in TVideoQuality's order
  return kNames[int(quality)];
}

bool ParseVideoQuality(const std::string& text, TVideoQuality& quality) {
  return ParseName(text, kVideoQualities, QualityName, quality);
}

int QualityCrf(TVideoQuality quality) {
  // Text on a desktop stays sharp at 18 and readable at 28; x264's own default is 23.
  static const int kCrf[] = {18, 23, 28};
  return kCrf[int(quality)];
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
