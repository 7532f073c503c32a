// The texts quorvane-convert prints about a running conversion.
#pragma once

#include <string>

#include "encoder/encoder_records.h"

namespace qv {

// "frame=  250 fps= 25 q=3.1 size=     812kB time=00:00:10.00 bitrate= 665.2kbits/s" plus " 45%"
// when the total duration is known, and " dup=N drop=N" (frames repeated and dropped to keep the
// output's rate) once there are any.
std::string ProgressLine(const TProgressInfo& info, int dup, int drop);

// The last line: how the conversion ended, with the figures of the last progress report.
std::string FinalLine(const TTerminateInfo& info, const TProgressInfo* last, const std::string& output);

}  // namespace qv
