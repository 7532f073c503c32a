// The log of one recording: what the controller set up and every line the devices, the engine and
// the media libraries logged meanwhile, in a file of its own in the user's state folder, so a
// recording that failed (or came out wrong) can be looked into afterwards. A log that cannot be
// written never stands in the way of the recording.
#pragma once

#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "media/ff_owners.h"

namespace qv {

class TRecordingLog {
 public:
  // How many recording logs are kept; older ones are removed when a new one starts.
  static constexpr int kKept = 20;

  TRecordingLog() = default;
  ~TRecordingLog() { Close(); }
  TRecordingLog(const TRecordingLog&) = delete;
  TRecordingLog& operator=(const TRecordingLog&) = delete;

  // Starts "recording-YYYY-MM-DD,hh_nn_ss.log" (a number is added when that name is taken) in
  // `folder`, creating the folder. False when it cannot be written (the log is then off).
  bool Open(const std::string& folder, const std::tm& local);
  // One time-stamped line; any thread. Nothing happens while no file is open.
  void Line(const std::string& text);
  void Close();
  // The file being written, or the last one written; empty if none.
  std::string FileName() const;

 private:
  void RemoveOldLogs(const std::string& folder);

  mutable std::mutex Lock;
  TFilePtr File;
  std::string Name;
};

}  // namespace qv
