// Handlers of the options whose values are small structures: stream, metadata and chapter maps,
// timestamp scales, metadata pairs, stream ids and quantiser matrices.
#include <climits>

#include "engine/custom_ffmpeg.h"
#include "engine/option_values.h"

namespace qv {

namespace {

// Skips any one separator character.
void SkipSeparator(const std::string& text, std::size_t& pos) {
  if (pos < text.size()) ++pos;
}

// ",g" / ",sN" / ",cN" / ",pN" after a file number; no comma means global.
TMetadataMapSide ParseMetadataSide(const std::string& text, std::size_t& pos) {
  TMetadataMapSide side;
  side.File = int(ReadLeadingInt(text, pos));
  if (pos < text.size() && text[pos] == ',') {
    ++pos;
    side.Kind = pos < text.size() ? text[pos] : '\0';
    switch (side.Kind) {
      case 'g':
        ++pos;
        break;
      case 's':
      case 'c':
      case 'p':
        ++pos;
        side.Index = int(ReadLeadingInt(text, pos));
        break;
      default:
        RaiseFFmpegFmt("Invalid metadata type %s.", std::string(1, side.Kind).c_str());
    }
  }
  return side;
}

}  // namespace

void TCustomFFmpeg::ParseMap(const std::string& value) {
  TStreamMap m;
  std::size_t pos = 0;
  m.FileIndex = int(ReadLeadingInt(value, pos));
  SkipSeparator(value, pos);
  m.StreamIndex = int(ReadLeadingInt(value, pos));
  if (pos < value.size()) {
    SkipSeparator(value, pos);
    m.SyncFileIndex = int(ReadLeadingInt(value, pos));
    SkipSeparator(value, pos);
    m.SyncStreamIndex = int(ReadLeadingInt(value, pos));
  } else {
    m.SyncFileIndex = m.FileIndex;
    m.SyncStreamIndex = m.StreamIndex;
  }
  Opt.StreamMaps.push_back(m);
}

void TCustomFFmpeg::ParseMetadataMap(const std::string& value) {
  TMetadataMap m;
  std::size_t pos = 0;
  m.Out = ParseMetadataSide(value, pos);
  SkipSeparator(value, pos);
  m.In = ParseMetadataSide(value, pos);
  auto either = [&](char k) { return m.Out.Kind == k || m.In.Kind == k; };
  if (either('g')) Opt.MetadataGlobalAutocopy = false;
  if (either('s')) Opt.MetadataStreamsAutocopy = false;
  if (either('c')) Opt.MetadataChaptersAutocopy = false;
  Opt.MetadataMaps.push_back(m);
}

void TCustomFFmpeg::ParseChapterMap(const std::string& value) {
  TChapterMap m;
  std::size_t pos = 0;
  m.OutFile = int(ReadLeadingInt(value, pos));
  SkipSeparator(value, pos);
  m.InFile = int(ReadLeadingInt(value, pos));
  Opt.ChapterMaps.push_back(m);
}

void TCustomFFmpeg::ParseTsScale(const std::string& value) {
  std::size_t pos = 0;
  long stream = ReadLeadingInt(value, pos);
  SkipSeparator(value, pos);
  // A negative index cannot name a stream either; it is refused like one that is too large.
  if (stream < 0 || stream >= kMaxStreams) RaiseFFmpegFmt("stream index over MAX_STREAMS(%d)", kMaxStreams);
  double scale = 0;
  if (pos < value.size()) scale = ParseFloatValue(value.substr(pos));
  // Timestamps are multiplied by it; beyond a million the result says nothing a user could mean.
  CheckRange("itsscale", scale, 0, 1e6);
  Opt.TsScale[stream] = scale;
}

void TCustomFFmpeg::ParseMetadata(const std::string& value) {
  auto eq = value.find('=');
  if (eq == std::string::npos) RaiseFFmpeg("Missing =");
  std::string key = value.substr(0, eq);
  if (key.empty()) RaiseFFmpeg("wrong parameter of metadata");
  AVDictionary* d = Opt.Metadata.release();
  int r = ff::av_dict_set(&d, key.c_str(), value.c_str() + eq + 1, 0);
  Opt.Metadata.reset(d);
  if (r < 0) RaiseFFmpeg("wrong parameter of metadata");
}

void TCustomFFmpeg::ParseStreamId(const std::string& name, const std::string& value) {
  auto fail = [&] {
    RaiseFFmpegFmt("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"", value.c_str(),
                   name.c_str());
  };
  auto colon = value.find(':');
  if (colon == std::string::npos) fail();
  int index, id;
  try {
    index = ParseIntValue(value.substr(0, colon));
    id = ParseIntValue(value.substr(colon + 1));
  } catch (const FFmpegException&) {
    fail();
  }
  if (index < 0 || index >= kMaxStreams || id < 0) fail();
  if (Opt.StreamIdMap.size() <= size_t(index)) Opt.StreamIdMap.resize(size_t(index) + 1, -1);
  Opt.StreamIdMap[size_t(index)] = id;
}

void TCustomFFmpeg::ParseMatrix(const std::string& value, std::unique_ptr<TMatrix>& matrix) {
  auto m = std::make_unique<TMatrix>();
  std::size_t pos = 0;
  for (int i = 0; i < 64; ++i) {
    std::size_t comma = value.find(',', pos);
    if (i < 63 && comma == std::string::npos) RaiseFFmpegFmt("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i);
    std::string coeff = value.substr(pos, i < 63 ? comma - pos : std::string::npos);
    int c;
    try {
      c = ParseIntValue(coeff);
    } catch (const FFmpegException&) {
      RaiseFFmpegFmt("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i);
    }
    // The codec keeps 16-bit coefficients; 0 would divide by zero in the quantiser.
    if (c < 1 || c > 65535) RaiseFFmpegFmt("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i);
    (*m)[size_t(i)] = std::uint16_t(c);
    pos = comma == std::string::npos ? value.size() : comma + 1;
  }
  matrix = std::move(m);
}

}  // namespace qv
