// The command line of quorvane-convert, written like a transcoding command line:
//   quorvane-convert [input options] -i INPUT [[input options] -i INPUT]... [output options] OUTPUT
//   quorvane-convert -repair FILE
// Options before an -i belong to that input, the rest to the output. Each becomes one name=value
// line of the encoder's ExtOptions text.
#pragma once

#include <string>
#include <vector>

namespace qv {

struct TConvertInput {
  std::string FileName;
  std::string ExtOptions;  // "name=value" lines joined by "\n"
};

struct TConvertCommand {
  std::vector<TConvertInput> Inputs;
  std::string Output;
  std::string OutputOptions;
  std::string Repair;  // -repair FILE: the unfinished AVI to repair in place (nothing else given)
  bool Help = false;
};

// Options that take no value: the transcoder's switches, the stream adders and the ones it ignores.
bool IsFlagOption(const std::string& name);

// Fills `cmd` from the arguments (without the program name). Returns "" or the error text.
std::string ParseConvertArgs(const std::vector<std::string>& args, TConvertCommand& cmd);

std::string ConvertUsage();

}  // namespace qv
