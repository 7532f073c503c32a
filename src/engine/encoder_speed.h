// The video encoder's speed following the load: a faster preset when the coding falls behind the
// capture, the slower one back once it has had room for a while. Plain bookkeeping over what the
// video path observed each second; the engine does the reopening and the logging.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace qv {

// What one window of recorded time (about a second of slots) showed.
struct TLoadObservation {
  double Seconds = 0;      // recorded time the window covers
  int Slots = 0;           // slots that passed in it
  int MissedSlots = 0;     // of them, slots whose picture came too late to be coded
  double BusySeconds = 0;  // wall time the worker spent converting and coding in it
  double LagSeconds = 0;   // how far the pictures inside the encoder are behind the newest one sent
};

// A change of preset, with the reason in words for the log.
struct TSpeedStep {
  std::string From, To, Reason;
};

class TEncoderSpeed {
 public:
  // x264's presets from `start` down to the fastest; nullptr when `start` is not one of them or is
  // the fastest already (nothing to step to).
  static std::unique_ptr<TEncoderSpeed> ForX264(const std::string& start);

  // `presets` from the slowest (the one the recording starts with) to the fastest, each with its
  // cost in processor time relative to the others.
  TEncoderSpeed(std::vector<std::string> presets, std::vector<double> costs);

  // Takes the window in; true when the preset should change now (`step` says to what and why).
  bool Observe(const TLoadObservation& o, TSpeedStep& step);
  // Recorded time that ends the recording without a whole window: it counts for the preset.
  void Finish(double seconds) { SecondsRun[Current] += seconds; }
  const std::string& Preset() const { return Presets[Current]; }
  const std::string& Start() const { return Presets[0]; }
  // "veryfast 3.0 s, ultrafast 22.0 s": the recorded time each preset ran, in the ladder's order.
  std::string Summary() const;

 private:
  bool Missing(const TLoadObservation& o) const;
  bool Behind(const TLoadObservation& o) const;
  bool StepFaster(const TLoadObservation& o, TSpeedStep& step);
  bool StepSlower(TSpeedStep& step);
  void MoveTo(size_t preset);

  std::vector<std::string> Presets;
  std::vector<double> Costs;
  std::vector<double> SecondsRun;
  size_t Current = 0;
  double Clock = 0;          // recorded time observed so far
  double LastChange = -1e9;  // when the preset last changed
  double WentSlowerAt = -1e9;  // when it last stepped back to a slower one
  double RoomSince = 0;      // since when every window had room (no miss, no lag)
  double PeakBusy = 0;       // the busiest share of a window since RoomSince
  double RoomNeeded = 10;    // seconds of room before stepping back; doubles after a step back fails
};

}  // namespace qv
