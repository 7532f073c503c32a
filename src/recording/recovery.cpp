#include "recording/recovery.h"

#include <unistd.h>

#include "engine/recording_repair.h"
#include "media/ff_utils.h"
#include "recording/recording_mark.h"

namespace qv {

namespace {

// A repair cut short keeps the original under its ".unfinished" name only.
bool Exists(const std::string& fileName) {
  return ::access(fileName.c_str(), F_OK) == 0 || ::access(UnfinishedName(fileName).c_str(), F_OK) == 0;
}

}  // namespace

std::string TRecovered::Message() const {
  if (Ok) return "Recovered the interrupted recording " + FileName + " (" + LengthText(DurationUs) + ")";
  return "The interrupted recording " + FileName + " could not be recovered: " + Error;
}

std::vector<TRecovered> RecoverInterruptedRecordings(const std::string& folder) {
  std::vector<TRecovered> results;
  for (const TLeftMark& mark : FindLeftMarks(folder)) {
    if (!mark.FileName.empty() && Exists(mark.FileName)) {
      const TAviRepair repair = RepairRecordingFile(mark.FileName);
      if (!repair.WasComplete) results.push_back({mark.FileName, repair.Ok, repair.DurationUs, repair.Error});
    }
    RemoveMark(mark);
  }
  return results;
}

}  // namespace qv
