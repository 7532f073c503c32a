#include "cli/convert_args.h"

#include <algorithm>
#include <utility>

namespace qv {

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

// A name is one line of the encoder's option text: a break in it would start a second option.
bool HasLineBreakOrControl(const std::string& name) {
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f) return true;
  return name.find("<CRLF>") != std::string::npos;
}

void AppendLine(std::string& text, const std::string& name, const std::string& value) {
  if (!text.empty()) text += '\n';
  text += name + "=" + value;
}

}  // namespace

std::string TranscoderOptionName(const std::string& name) {
  static const std::pair<const char*, const char*> kAliases[] = {
      {"c:v", "vcodec"},     {"c:a", "acodec"},     {"c:s", "scodec"},  {"codec:v", "vcodec"},
      {"codec:a", "acodec"}, {"codec:s", "scodec"}, {"b:v", "b"},       {"b:a", "ab"},
      {"filter:v", "vf"}, {"q", "qscale"},  {"q:v", "qscale"}, {"qscale:v", "qscale"}, {"q:a", "aq"},
      {"qscale:a", "aq"}};
  for (const auto& [alias, transcoderName] : kAliases)
    if (name == alias) return transcoderName;
  return name;
}

bool IsFlagOption(const std::string& name) {
  // The transcoder's boolean options (a missing value means "on"), the vstats switch, the stream
  // adders, and the informational options it accepts and ignores.
  static const char* const kFlags[] = {
      "dump", "hex", "re", "loop_input", "copyts", "copytb", "shortest", "xerror", "intra",
      "vn", "sameq", "deinterlace", "psnr", "qphist", "force_fps", "an", "sn", "isync", "crash_safe",
      "vstats", "newvideo", "newaudio", "newsubtitle",
      "l", "version", "formats", "codecs", "bsfs", "protocols", "filters", "benchmark"};
  return std::find_if(std::begin(kFlags), std::end(kFlags), [&](const char* f) { return name == f; }) !=
         std::end(kFlags);
}

std::string ParseConvertArgs(const std::vector<std::string>& args, TConvertCommand& cmd) {
  cmd = TConvertCommand();
  const auto isRepair = [](const std::string& a) { return Lower(a) == "-repair"; };
  if (std::any_of(args.begin(), args.end(), isRepair)) {
    if (args.size() != 2 || !isRepair(args[0])) return "-repair takes one file and nothing else";
    cmd.Repair = args[1];
    return "";
  }
  std::string pending;  // options not yet claimed by an -i
  std::vector<TGivenOption> pendingGiven;
  bool haveOutput = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-help" || a == "-h" || a == "-?") {
      cmd.Help = true;
      return "";
    }
    if (a.size() < 2 || a[0] != '-') {
      if (haveOutput) return "More than one output file given: \"" + cmd.Output + "\" and \"" + a + "\"";
      cmd.Output = a;
      haveOutput = true;
      continue;
    }
    if (a[1] == '-') return "Unrecognized option \"" + a + "\"";
    if (HasLineBreakOrControl(a)) return "The name of option \"" + a + "\" must not contain a line break or control character";
    const std::string name = TranscoderOptionName(Lower(a.substr(1)));
    if (name == "y" || name == "n") {
      cmd.Overwrite = name == "y" ? TOverwrite::Always : TOverwrite::Never;
      continue;
    }
    if (name == "i") {
      if (i + 1 >= args.size()) return "Missing input file name after -i";
      if (haveOutput) return "Input file \"" + args[i + 1] + "\" given after the output file";
      cmd.Inputs.push_back({args[++i], pending, std::move(pendingGiven)});
      pending.clear();
      pendingGiven.clear();
      continue;
    }
    std::string value;
    if (!IsFlagOption(name)) {
      if (i + 1 >= args.size()) return "Missing argument for option \"" + a + "\"";
      value = args[++i];
    }
    if (value.find_first_of("\r\n") != std::string::npos || value.find("<CRLF>") != std::string::npos)
      return "The value of option \"" + a + "\" must not contain a line break";
    AppendLine(pending, name, value);
    pendingGiven.push_back({a, name, value});
  }
  if (cmd.Inputs.empty()) return "At least one input file must be specified";
  if (!haveOutput) return "At least one output file must be specified";
  cmd.OutputOptions = pending;
  cmd.OutputGiven = std::move(pendingGiven);
  return "";
}

std::string ConvertUsage() {
  return "Usage: quorvane-convert [input options] -i INPUT [[input options] -i INPUT]... [output options] OUTPUT\n"
         "       quorvane-convert -repair FILE\n"
         "\n"
         "Converts the inputs into OUTPUT with the Quorvane encoder. Options are written as on a\n"
         "transcoding command line; those before an -i apply to that input, the rest to the output.\n"
         "Switches such as -an, -vn, -sn, -copyts, -shortest, -isync, -newvideo take no value.\n"
         "\n"
         "Examples of options:\n"
         "  -f FORMAT          force the format of the next input or of the output\n"
         "  -y, -n             overwrite an existing output / never (without either it is refused)\n"
         "  -vcodec NAME       video encoder (\"copy\" copies the stream); also -c:v, -codec:v\n"
         "  -acodec NAME       audio encoder; also -c:a, -codec:a\n"
         "  -b RATE, -ab RATE  video / audio bit rate in bit/s (\"1600k\" allowed); also -b:v, -b:a\n"
         "  -s WxH             frame size        -r RATE   frame rate\n"
         "  -ar HZ, -ac N      audio sample rate and channels\n"
         "  -t DURATION        stop after this much output     -ss TIME  start here\n"
         "  -to TIME           stop here (before -i: the input's time; after it: the output's)\n"
         "  -q:v Q             fixed video quality (qscale; lower is better)\n"
         "  -vf FILTERS        video filter chain; also -filter:v\n"
         "  -loglevel LEVEL    quiet, panic, fatal, error, warning, info, verbose, debug\n"
         "\n"
         "An output ending in .gif gets a palette made from its own pictures: a first run over the\n"
         "pictures writes it, a second codes them with it (dithered).\n"
         "\n"
         "While it runs it prints a progress line; Ctrl-C, SIGTERM or SIGHUP stops the conversion and\n"
         "still finishes the file. Exit status: 0 when the conversion completed, 1 when it failed, 2 for\n"
         "a bad command line or an output that exists (without -y), 130 when it was stopped.\n"
         "\n"
         "-repair FILE repairs an AVI, MP4 or MKV whose recording was cut off (killed, crashed, the power\n"
         "cut, a full disk). An AVI: what can be read is copied into a complete AVI under the same name,\n"
         "so the disk needs room for a second copy of it; the original is kept as FILE.unfinished until\n"
         "the repaired file has been checked. An MP4 or MKV is mended in place: the piece cut short at its\n"
         "end goes, and its sizes and length are set. Exit status 0 only when FILE is then complete (a\n"
         "file that already was is left alone).\n";
}

}  // namespace qv
