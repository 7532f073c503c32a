// Where a recording's sound can come from, by name: ALSA's default, each source of the sound
// server (a microphone, a sink's monitor) and "desktop", what the default output plays, or, when no
// sound server answers, ALSA's capture PCMs. The sound server is asked through libpulse, which
// PipeWire's pulse server answers as well.
//
// Every function here blocks for a moment (the sound server is asked each time) and may run on
// any thread; nothing is kept between calls.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qv {

struct TSoundSource {
  std::string Name;         // what the sound device's "source" option and --audio-source take
  std::string Description;  // for people: "What the desktop plays", "Sound played on Built-in Audio"
  std::string Unavailable;  // why it cannot record now ("Device or resource busy"); "" when it can
};

// ALSA's default capture device, as a name.
inline constexpr char kDefaultSoundSource[] = "default";
// The monitor of whichever output is the default one when the recording starts.
inline constexpr char kDesktopSoundSource[] = "desktop";

// ALSA's capture PCMs, in hint order: the "pcm" hints that are not output-only, less the plugins
// that record nothing of their own (sound_sources_alsa.cpp says which and why). The wave device's
// numbers index this list; nothing is opened to make it, so the numbers do not depend on what is
// busy at the moment.
std::vector<TSoundSource> AlsaCapturePcms();

// Why the ALSA PCM cannot be opened for capture now, in ALSA's words, or "" when it can. It is
// opened without blocking and closed at once.
std::string CaptureProblem(const std::string& pcm);

// Every candidate, each with why it cannot record now (or ""): ALSA's default first, then, when a
// sound server answers, the desktop's sound and the server's sources (its default source first);
// without a server, ALSA's other capture PCMs, each opened for capture a moment to see that it can.
std::vector<TSoundSource> SurveySoundSources();

// The candidates that can record now, in the same order: what a chooser offers.
std::vector<TSoundSource> ListSoundSources();

struct TSoundSourcePcm {
  std::string Pcm;
  // The sound server's source by its own name. When such a source goes away (a microphone
  // unplugged) the server moves its recording streams to another source without a word to ALSA's
  // clients, so only a TSoundSourceWatch notices.
  bool ServerSource = false;
};

// The ALSA PCM that records the source called `name`: the desktop's sound and the sound server's
// sources go through ALSA's pulse plugin; any other name is taken as an ALSA PCM name.
TSoundSourcePcm SoundSourcePcm(const std::string& name);

// Watches one source of the sound server from a thread of its own and calls `gone` there, once,
// when the source is removed (or is not there by the time the watch is set up). Nothing is called
// once the destructor has returned.
class TSoundSourceWatch {
 public:
  TSoundSourceWatch(const std::string& source, std::function<void()> gone);
  ~TSoundSourceWatch();
  TSoundSourceWatch(const TSoundSourceWatch&) = delete;
  TSoundSourceWatch& operator=(const TSoundSourceWatch&) = delete;

 private:
  struct TState;
  std::unique_ptr<TState> State;
};

}  // namespace qv
