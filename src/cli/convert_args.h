// The command line of quorvane-convert, written like a transcoding command line:
//   quorvane-convert [input options] -i INPUT [[input options] -i INPUT]... [output options] OUTPUT
//   quorvane-convert -repair FILE
// Options before an -i belong to that input, the rest to the output. Each becomes one name=value
// line of the encoder's ExtOptions text.
#pragma once

#include <string>
#include <vector>

#include "cli/output_claim.h"

namespace qv {

// One option as the user wrote it, kept so a refusal can name it in the user's own spelling.
struct TGivenOption {
  std::string Spelling;  // "-c:v"
  std::string Key;       // the transcoder's name for it ("vcodec")
  std::string Value;
};

struct TConvertInput {
  std::string FileName;
  std::string ExtOptions;  // "name=value" lines joined by "\n"
  std::vector<TGivenOption> Given;  // the same options as written
};

struct TConvertCommand {
  std::vector<TConvertInput> Inputs;
  std::string Output;
  std::string OutputOptions;
  std::vector<TGivenOption> OutputGiven;  // the output's options as written
  TOverwrite Overwrite = TOverwrite::Ask;  // -y, -n; without either an existing output is refused
  std::string Repair;  // -repair FILE: the unfinished AVI, MP4 or MKV to repair in place (nothing else given)
  bool Help = false;
};

// Options that take no value: the transcoder's switches, the stream adders and the ones it ignores.
bool IsFlagOption(const std::string& name);

// The transcoder's name for an option spelt the current way ("c:v" is "vcodec"); others unchanged.
std::string TranscoderOptionName(const std::string& name);

// Fills `cmd` from the arguments (without the program name). Returns "" or the error text.
std::string ParseConvertArgs(const std::vector<std::string>& args, TConvertCommand& cmd);

std::string ConvertUsage();

}  // namespace qv
