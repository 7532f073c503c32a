// Built-in presets and preset files (`apre`, `vpre`, `spre`, `fpre`).
//
// The x264 wrapper of current libavcodec no longer knows several option names of the older
// generation (the "flags2" bits dct8x8/wpred/mixed_refs/fastpskip/mbtree/bpyramid, "partitions" as
// flags, "directpred", "rc_lookahead"). The built-in texts use the current names, except the two
// historical texts that are kept word for word ("libx264-main", "libx264-ipod320"); every preset
// line, built-in or from a file, passes through TranslateLegacyLine, which rewrites an old form to
// its current meaning only when the loaded library does not know the old one.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "engine/custom_ffmpeg.h"
#include "engine/presets.h"

namespace qv {

namespace {

struct TOptionsPreset {
  const char* Name;
  const char* Text;
};

#define QV_FIRSTPASS(speed) "preset=" speed "\nfastfirstpass=1\ng=250\nkeyint_min=25\nsc_threshold=40"
#define QV_LOSSLESS(speed) "preset=" speed "\nqp=0\ng=250\nkeyint_min=25"
#define QV_SPEED(speed) "preset=" speed "\ng=250\nkeyint_min=25\nsc_threshold=40\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4"

const char kFastFirstpass[] = QV_FIRSTPASS("fast");
const char kPlacebo[] = QV_SPEED("placebo") "\nrefs=16\nme_range=24";
const char kSlowFirstpass[] = QV_FIRSTPASS("slow");
const char kUltrafast[] = QV_SPEED("ultrafast");

const TOptionsPreset kPresets[] = {
    {"libx264-baseline", "coder=0\nbf=0\nweightb=0\n8x8dct=0\nwpredp=0\nrefs=1"},
    {"libx264-default", QV_SPEED("medium") "\nrefs=3\nsubq=7\nme_range=16\ntrellis=1\ni_qfactor=0.71"},
    {"libx264-fast", QV_SPEED("fast")},
    {"libx264-fast_firstpass", kFastFirstpass},
    {"libx264-faster", QV_SPEED("faster")},
    {"libx264-faster_firstpass", QV_FIRSTPASS("faster")},
    {"libx264-fastfirstpass", QV_FIRSTPASS("medium")},
    {"libx264-hq", QV_SPEED("slow") "\nrefs=4\nsubq=8\ntrellis=2\nme_method=umh\nme_range=16\nmixed-refs=1\n8x8dct=1"},
    {"libx264-ipod320", "coder=0\nbf=0\nflags2=-wpred-dct8x8\nlevel=13\nmaxrate=768000\nbufsize=3000000\nwpredp=0"},
    {"libx264-ipod640",
     "coder=0\nbf=0\nweightb=0\n8x8dct=0\nlevel=30\nmaxrate=10000000\nbufsize=10000000\nwpredp=0"},
    {"libx264-lossless_fast", QV_LOSSLESS("fast")},
    {"libx264-lossless_max", QV_LOSSLESS("placebo") "\nrefs=16\nme_range=24"},
    {"libx264-lossless_medium", QV_LOSSLESS("medium")},
    {"libx264-lossless_slow", QV_LOSSLESS("slow")},
    {"libx264-lossless_slower", QV_LOSSLESS("slower")},
    {"libx264-lossless_ultrafast", QV_LOSSLESS("ultrafast")},
    {"libx264-main", "flags2=-dct8x8"},
    {"libx264-max", QV_SPEED("placebo") "\nrefs=16\nsubq=11\ntrellis=2\nme_method=tesa\nme_range=24"},
    {"libx264-medium", QV_SPEED("medium")},
    {"libx264-medium_firstpass", kFastFirstpass},
    {"libx264-normal", QV_SPEED("medium") "\nrefs=2\nsubq=6\ntrellis=0"},
    {"libx264-placebo", kPlacebo},
    {"libx264-placebo_firstpass", kPlacebo},
    {"libx264-slow", QV_SPEED("slow")},
    {"libx264-slow_firstpass", kSlowFirstpass},
    {"libx264-slower", QV_SPEED("slower")},
    {"libx264-slower_firstpass", kSlowFirstpass},
    {"libx264-slowfirstpass", QV_FIRSTPASS("slow") "\nrefs=1\nsubq=2\ntrellis=0"},
    {"libx264-superfast", QV_SPEED("superfast")},
    {"libx264-superfast_firstpass", QV_FIRSTPASS("superfast")},
    {"libx264-ultrafast", kUltrafast},
    {"libx264-ultrafast_firstpass", kUltrafast},
    {"libx264-veryfast", QV_SPEED("veryfast")},
    {"libx264-veryfast_firstpass", QV_FIRSTPASS("veryfast")},
    {"libx264-veryslow", QV_SPEED("veryslow")},
    {"libx264-veryslow_firstpass", QV_FIRSTPASS("veryslow")},
};

static_assert(sizeof(kPresets) / sizeof(kPresets[0]) == 36);

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

const char* FindBuiltin(const std::string& name) {
  const std::string key = Lower(name);
  for (const auto& p : kPresets)
    if (key == p.Name) return p.Text;
  return nullptr;
}

// Old x264 switches of "flags2" and what the current wrapper calls them.
struct TFlagRename {
  const char* Old;
  const char* New;
  const char* On;
  const char* Off;
};
const TFlagRename kFlags2Renames[] = {
    {"dct8x8", "8x8dct", "1", "0"},       {"wpred", "weightb", "1", "0"},    {"mixed_refs", "mixed-refs", "1", "0"},
    {"fastpskip", "fast-pskip", "1", "0"}, {"mbtree", "mbtree", "1", "0"},   {"bpyramid", "b-pyramid", "normal", "none"},
    {"aud", "aud", "1", "0"},             {"ssim", "ssim", "1", "0"},        {"psy", "psy", "1", "0"},
};
const std::pair<const char*, const char*> kKeyRenames[] = {
    {"directpred", "direct-pred"}, {"rc_lookahead", "rc-lookahead"}};
const std::pair<const char*, const char*> kPartitionRenames[] = {
    {"parti8x8", "i8x8"}, {"parti4x4", "i4x4"}, {"partp8x8", "p8x8"}, {"partp4x4", "p4x4"}, {"partb8x8", "b8x8"}};

using TPairs = std::vector<std::pair<std::string, std::string>>;

// Splits "+a-b+c" into signed words.
std::vector<std::pair<bool, std::string>> FlagWords(const std::string& value) {
  std::vector<std::pair<bool, std::string>> words;
  size_t i = 0;
  while (i < value.size()) {
    bool on = true;
    if (value[i] == '+' || value[i] == '-') {
      on = value[i] == '+';
      ++i;
    }
    size_t j = value.find_first_of("+-", i);
    if (j == std::string::npos) j = value.size();
    words.emplace_back(on, value.substr(i, j - i));
    i = j;
  }
  return words;
}

// A preset file is a few lines; anything beyond this is not one (/dev/zero, a video given by mistake)
// and is refused before it fills the memory.
constexpr std::size_t kMaxPresetFileBytes = 1 << 20;

std::string ReadPresetFile(const std::string& fileName) {
  std::ifstream file(fileName, std::ios::binary);
  if (!file) RaiseFFmpegFmt("Preset \"%s\" not found", fileName.c_str());
  std::string text(kMaxPresetFileBytes + 1, '\0');
  file.read(text.data(), std::streamsize(text.size()));
  if (std::size_t(file.gcount()) > kMaxPresetFileBytes)
    RaiseFFmpegFmt("Preset \"%s\" is larger than 1 MB; a preset file holds name=value lines", fileName.c_str());
  if (file.bad()) RaiseFFmpegFmt("Preset \"%s\" could not be read", fileName.c_str());
  text.resize(std::size_t(file.gcount()));
  return text;
}

}  // namespace

// Rewrites one name=value pair of the older generation into the pairs the loaded library knows.
TPairs TranslateLegacyLine(AVCodecContext* probe, const std::string& key, const std::string& value) {
  auto known = [&](const char* name, const char* unit) {
    return probe && ff::av_opt_find(probe, name, unit, 0, 0) != nullptr;
  };
  if (!probe) return {{key, value}};
  if (key == "flags2") {
    TPairs out;
    std::string rest;
    for (const auto& [on, word] : FlagWords(value)) {
      const TFlagRename* r = nullptr;
      for (const auto& f : kFlags2Renames)
        if (word == f.Old && !known(f.Old, "flags2")) r = &f;
      if (r)
        out.emplace_back(r->New, on ? r->On : r->Off);
      else
        rest += (on ? "+" : "-") + word;
    }
    if (!rest.empty()) out.insert(out.begin(), {key, rest});
    return out;
  }
  if (key == "partitions" && !known("partitions", nullptr) && (value.find("part") != std::string::npos || value == "0")) {
    std::string list;
    for (const auto& [on, word] : FlagWords(value))
      for (const auto& [oldName, newName] : kPartitionRenames)
        if (on && word == oldName) list += (list.empty() ? "" : ",") + std::string(newName);
    return {{key, list.empty() ? "none" : list}};
  }
  for (const auto& [oldName, newName] : kKeyRenames)
    if (key == oldName && !known(oldName, nullptr)) return {{newName, value}};
  return {{key, value}};
}

const char* BuiltinPresetText(const std::string& name) { return FindBuiltin(name); }

void TCustomFFmpeg::ApplyPreset(char kind, const std::string& value) {
  std::string text;
  const char* builtin = nullptr;
  if (kind != 'f') {
    builtin = FindBuiltin(value);
    const std::string& codec =
        kind == 'v' ? Opt.VideoCodecName : kind == 'a' ? Opt.AudioCodecName : Opt.SubtitleCodecName;
    if (!builtin && !codec.empty()) builtin = FindBuiltin(codec + "-" + value);
  }
  if (builtin) {
    text = builtin;
  } else {
    text = ReadPresetFile(value);
  }
  std::string normalized;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      normalized += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      normalized += text[i];
    }
  }
  std::istringstream lines(Trim(normalized));
  std::string raw;
  AVCodecContext* probe = Store.CodecContexts[AVMEDIA_TYPE_VIDEO];
  while (std::getline(lines, raw)) {
    std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    auto eq = line.find('=');
    std::string key = eq == std::string::npos ? line : Trim(line.substr(0, eq));
    std::string val = eq == std::string::npos ? "" : Trim(line.substr(eq + 1));
    if (key.empty() || val.empty()) RaiseFFmpegFmt("%s: Invalid syntax: \"%s\"", value.c_str(), line.c_str());
    std::string lower = Lower(key);
    if (lower == "acodec" || lower == "vcodec" || lower == "scodec") {
      SetCodecName(lower, val);
      continue;
    }
    for (const auto& [k, v] : TranslateLegacyLine(probe, key, val)) {
      if (!SetStoreOption(k, v) && RaiseOnBadOption)
        RaiseFFmpegFmt("%s\r\n%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                       LastOptionError().c_str(), value.c_str(), line.c_str(), key.c_str(), val.c_str());
    }
  }
}

}  // namespace qv
