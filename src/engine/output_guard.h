// An output must never be one of the run's inputs: opening it for writing would truncate the source
// before a byte of it was read.
#pragma once

#include <string>

namespace qv {

class TCustomFFmpeg;

// Raises FFmpegException "Output file '<name>' is the same as input file '<name>'." when `output`
// names the same file (device and inode, links followed; also through a hard link) as an opened input.
void RefuseOutputThatIsAnInput(TCustomFFmpeg& engine, const std::string& output);

}  // namespace qv
