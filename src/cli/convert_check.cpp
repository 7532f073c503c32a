#include "cli/convert_check.h"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "encoder/ext_options.h"
#include "engine/custom_ffmpeg.h"
#include "media/logger.h"

namespace qv {

namespace {

// Options whose check needs what only the run has: an output to add a stream to, the frame-hook
// loader, the input's frame rate for a target without its norm. The run itself judges them.
bool NeedsTheRun(const TGivenOption& o) {
  if (o.Key == "target")
    return o.Value.rfind("pal-", 0) != 0 && o.Value.rfind("ntsc-", 0) != 0 && o.Value.rfind("film-", 0) != 0;
  return o.Key == "newvideo" || o.Key == "newaudio" || o.Key == "newsubtitle" || o.Key == "vhook";
}

// Listing options print while they are checked; the run prints them.
bool Prints(const TGivenOption& o) { return (o.Key == "pix_fmt" || o.Key == "sample_fmt") && o.Value == "list"; }

// The transcoder logs warnings and notes while it takes options; the run logs them once.
class TQuietLog {
 public:
  TQuietLog() : Saved(GetLogger()->LogLevel()) { GetLogger()->SetLogLevel(llQuiet); }
  ~TQuietLog() { GetLogger()->SetLogLevel(Saved); }
  TQuietLog(const TQuietLog&) = delete;
  TQuietLog& operator=(const TQuietLog&) = delete;

 private:
  TLogLevel Saved;
};

// The encoder gives an output its codec names first, then the presets (found through those names),
// then the rest.
int OutputOrder(const TGivenOption& o) {
  if (o.Key == "vcodec" || o.Key == "acodec" || o.Key == "scodec") return 0;
  if (o.Key == "vpre" || o.Key == "apre" || o.Key == "spre") return 1;
  return 2;
}

}  // namespace

std::string RefusedOption(const TConvertCommand& cmd) {
  // A scratch transcoder takes the options in the order the encoder gives them to the run's, so a
  // value that depends on an earlier option is judged as the run will judge it.
  std::vector<TGivenOption> order;
  for (const TConvertInput& in : cmd.Inputs)
    for (const TGivenOption& o : in.Given)
      if (!IsHeldBackInputKey(o.Key)) order.push_back(o);
  std::vector<TGivenOption> output = cmd.OutputGiven;
  std::stable_sort(output.begin(), output.end(),
                   [](const TGivenOption& a, const TGivenOption& b) { return OutputOrder(a) < OutputOrder(b); });
  order.insert(order.end(), output.begin(), output.end());

  TQuietLog quiet;
  TCustomFFmpeg scratch;
  for (const TGivenOption& o : order) {
    if (NeedsTheRun(o) || Prints(o)) continue;
    try {
      scratch.SetOption(o.Key, o.Value);
    } catch (const std::exception& e) {
      return o.Spelling + (o.Value.empty() ? "" : " " + o.Value) + ": " + e.what();
    }
  }
  return "";
}

std::string ExistingOutputRefusal(const TConvertCommand& cmd) {
  struct stat st{};
  if (cmd.Overwrite == TOverwrite::Always || ::stat(cmd.Output.c_str(), &st) != 0) return "";
  return "File '" + cmd.Output + "' already exists." +
         (cmd.Overwrite == TOverwrite::Never ? " Exiting." : " Use -y to overwrite.");
}

}  // namespace qv
