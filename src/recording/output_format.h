// The kinds of file a recording can be written as, and how a file name and a format agree. Both
// front ends name formats, qualities and frame rates through here, so the options window, the
// settings file and quorvane-rec spell them alike.
#pragma once

#include <string>

namespace qv {

// AVI: MS-MPEG4 v2 and MS ADPCM, the program's first format and still its default. MKV: H.264 and
// Opus. MP4: H.264 and AAC, fragmented so that a file cut off stays playable.
enum class TOutputFormat { Avi, Mkv, Mp4 };
constexpr TOutputFormat kOutputFormats[] = {TOutputFormat::Avi, TOutputFormat::Mkv, TOutputFormat::Mp4};

// H.264's constant quality; the AVI's codec takes a bit rate instead.
enum class TVideoQuality { High, Medium, Low };
constexpr TVideoQuality kVideoQualities[] = {TVideoQuality::High, TVideoQuality::Medium, TVideoQuality::Low};

constexpr int kDefaultFrameRate = 25;
constexpr int kFrameRates[] = {10, 15, 20, 25, 30, 50, 60};
bool IsOfferedFrameRate(int fps);

struct TFormatFacts {
  const char* Name;          // "avi", "mkv", "mp4": the command line's and the settings file's word,
                             // and the extension without its dot
  const char* Title;         // "AVI – MS-MPEG4 v2 / MS ADPCM" and the like
  const char* Muxer;         // libavformat's name
  const char* SoundEncoder;  // libavcodec's name
  const char* SoundTitle;    // "MS ADPCM", "Opus", "AAC"
};
const TFormatFacts& FactsOf(TOutputFormat format);

std::string FormatName(TOutputFormat format);
// "AVI – MS-MPEG4 v2 / MS ADPCM" and the like, for the options window.
std::string FormatTitle(TOutputFormat format);
// Any case. False for any other text.
bool ParseOutputFormat(const std::string& text, TOutputFormat& format);
bool UsesH264(TOutputFormat format);

// "high", "medium", "low".
std::string QualityName(TVideoQuality quality);
bool ParseVideoQuality(const std::string& text, TVideoQuality& quality);
// x264's constant rate factor for the quality.
int QualityCrf(TVideoQuality quality);

// Makes a typed file name and the chosen format agree: a name without an extension gets the
// format's; an extension that names a format (any case) chooses that format; any other extension
// is refused. "" or what the user is told.
std::string MatchFormatToFileName(std::string& fileName, TOutputFormat& format);

}  // namespace qv
