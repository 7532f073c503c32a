// A trim or an export of a recording, as the user asked for it (TExportRequest), planned as the
// transcoder's options of one run or, for a GIF, two (TExportPlan). The windows build requests; the
// plan is all they hand on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/media_facts.h"

namespace qv {

enum class TExportKind { Trim, Mp4, Gif };
enum class TExportSize { Original, Height1080, Height720 };
enum class TExportQuality { High, Medium, Low };

struct TExportRequest {
  TExportKind Kind = TExportKind::Trim;
  std::string Source;
  std::int64_t InUs = 0;
  std::int64_t OutUs = -1;       // < 0: to the end
  bool FastAtKeyFrames = false;  // trim: at the key frames around the points, nothing re-encoded
  TExportSize Size = TExportSize::Original;
  TExportQuality Quality = TExportQuality::Medium;
  int GifFps = 10;               // 10 or 15
  int GifWidth = 640;            // 0 or wider than the recording: its own width
};

// One run of the transcoder: the source with `InputOptions` into `Output` with `OutputOptions`
// (name=value lines, as the encoder component's ExtOptions).
struct TExportPass {
  std::string InputOptions, Output, OutputOptions;
};

struct TExportPlan {
  std::string Source;  // the recording, only ever read
  std::string Output;  // the file the user gets, beside the source
  std::vector<TExportPass> Passes;
  bool Copies = false;            // the streams are copied, nothing is coded
  std::int64_t InUs = 0, DurationUs = 0;  // what is taken, after any move to key frames
};

// The file beside `source` an export writes: "<name> (trimmed).<ext>", "<name> (for sharing).mp4"
// or "<name>.gif", with " 2", " 3", ... before the extension while that name is taken.
std::string ExportFileName(const std::string& source, TExportKind kind);

// `paletteFile` is where a GIF's first run leaves its palette (unused for other kinds).
TExportPlan PlanExport(const TExportRequest& request, const TMediaFacts& facts, const std::string& paletteFile);

// A GIF's likely size in bytes, before writing it (screen pictures change little between frames).
std::int64_t EstimateGifBytes(const TExportRequest& request, const TMediaFacts& facts);
constexpr std::int64_t kLargeGifBytes = 20 * 1000 * 1000;

}  // namespace qv
