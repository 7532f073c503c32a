// The options window's sound sources: a row for the microphone and one for what the desktop plays,
// each with its source (or none), its volume in the mix, a mute and a live level meter. The meters
// capture their sources only while the window is open and nothing is being recorded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/sound_sources.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QProgressBar;
class QSpinBox;

namespace qv {

class TSoundMeter;

// A source's item data when the row records nothing.
inline constexpr char kNoSoundSource[] = "none";

struct TSoundRow {
  TSoundRow();
  ~TSoundRow();
  TSoundRow(const TSoundRow&) = delete;
  TSoundRow& operator=(const TSoundRow&) = delete;

  std::string Label;       // "Microphone", "Desktop": how the meter and the tooltip name it
  QComboBox* Source;       // each item's data is a source's name, or kNoSoundSource
  QSpinBox* Volume;        // percent, 0..200
  QCheckBox* Mute;
  QProgressBar* Meter;     // the peak, -60..0 dB
  QLabel* Level;           // "−18 dB (RMS −21)"
  std::unique_ptr<TSoundMeter> Live;
  std::string LiveSource;  // what Live captures
};

// Makes the row's controls, named after `key` ("Microphone": SpnMicrophoneVolume, ChkMicrophoneMute,
// BarMicrophoneLevel, LblMicrophoneLevel; the source box's name is `sourceName`), and lays them out
// on `line` of `grid` after `caption`.
void BuildSoundRow(TSoundRow& row, const char* key, const char* sourceName, const char* caption, QGridLayout* grid,
                   int line);
// The chosen source, or "" for none.
std::string ChosenSoundSource(const TSoundRow& row);
// Runs the row's meter while `on` (its source captured, the level shown) and stops it otherwise.
void TickSoundRow(TSoundRow& row, bool on);
// The sources there are, "None" first where `withNone`, and the saved one even when it is gone.
void FillSoundSources(QComboBox* box, const std::vector<TSoundSource>& sources, const std::string& saved,
                      bool withNone);

}  // namespace qv
