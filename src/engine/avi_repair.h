// Repair of an AVI whose writer never finished it (killed, crashed, the power cut): no index, no
// lengths in the header (or those of its first 1 GB only), perhaps a chunk cut short at the end. libavformat still reads such a file
// by scanning its chunks; the chunks it can read are copied as they are (no decoding) into a new
// AVI, which the muxer finishes with its index and lengths.
//
// Needs the media libraries loaded. Runs on the calling thread; nothing here is shared.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

struct TAviRepair {
  bool Ok = false;
  bool WasComplete = false;     // the file was complete already: it was left as it was
  std::string Error;            // in words, when not Ok
  std::int64_t DurationUs = 0;  // of the repaired (or already complete) file
};

// The readable chunks of `damaged` copied into a new, complete AVI named `repaired`, which is then
// read back: Ok only when it opens, states its duration and yields every packet written.
TAviRepair RemuxAvi(const std::string& damaged, const std::string& repaired);

// Repairs `fileName` in place. The original becomes "<fileName>.unfinished" until the repaired file
// has been verified and is on the disk, and is removed then. When the repair fails, the original
// goes back to its name. A "<fileName>.unfinished" left by a repair that was itself cut short is
// taken as the original. A complete file (its header states its duration and its layout is whole:
// avi_layout.h) is left alone (WasComplete).
TAviRepair RepairAviFile(const std::string& fileName);

// "<fileName>.unfinished".
std::string UnfinishedName(const std::string& fileName);

}  // namespace qv
