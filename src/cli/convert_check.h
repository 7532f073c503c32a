// What quorvane-convert refuses before it opens anything: options the transcoder does not take, and
// an output that exists already without -y (or with -n).
#pragma once

#include <string>

#include "cli/convert_args.h"

namespace qv {

// The first option the transcoder refuses, as "-name value: reason", or "". The media libraries
// must be loaded: they know the codec, format and scaler options.
std::string RefusedOption(const TConvertCommand& cmd);

// "File '<name>' already exists. ..." when the output is there and may not be overwritten, or "".
std::string ExistingOutputRefusal(const TConvertCommand& cmd);

}  // namespace qv
