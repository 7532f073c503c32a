// Where a recording's sound can come from, by name: ALSA's capture PCMs (through the pulse or
// pipewire plugin "default" and "pulse" reach the sound server too), each source of the sound
// server (a microphone, a sink's monitor) and "desktop", what the default output plays. The sound
// server is asked through libpulse, which PipeWire's pulse server answers as well.
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
  std::string Description;  // for people: "What the desktop plays", "Monitor of Built-in Audio"
};

// ALSA's default capture device, as a name.
inline constexpr char kDefaultSoundSource[] = "default";
// The monitor of whichever output is the default one when the recording starts.
inline constexpr char kDesktopSoundSource[] = "desktop";

// ALSA's capture PCMs ("pcm" hints that are not output-only), in hint order.
std::vector<TSoundSource> AlsaCapturePcms();

// What can be recorded from: ALSA's default first, then (when a sound server answers) the desktop's
// sound and the server's sources, then ALSA's other capture PCMs.
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
