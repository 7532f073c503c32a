// What quorvane-convert refuses before it opens anything: options the transcoder does not take (an
// output that exists already is output_claim.h's).
#pragma once

#include <string>

#include "cli/convert_args.h"

namespace qv {

// The first option the transcoder refuses, as "-name value: reason", or "". The media libraries
// must be loaded: they know the codec, format and scaler options.
std::string RefusedOption(const TConvertCommand& cmd);

}  // namespace qv
