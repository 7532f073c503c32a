#include "cli/convert_check.h"

#include <sys/stat.h>

#include "engine/custom_ffmpeg.h"
#include "media/logger.h"

namespace qv {

namespace {

// Options whose check needs what only the run has: an output to add a stream to, the frame-hook
// loader. The run itself judges them.
bool NeedsTheRun(const TGivenOption& o) {
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

}  // namespace

std::string RefusedOption(const TConvertCommand& cmd) {
  // A scratch transcoder takes the options in the order given, so a preset after its codec name and
  // a value that depends on an earlier option are judged as the run will judge them.
  TQuietLog quiet;
  TCustomFFmpeg scratch;
  for (const TGivenOption& o : cmd.Given) {
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
