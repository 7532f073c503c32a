// ALSA's side of the sound sources: which of its PCMs can be recorded from.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "capture/sound_sources.h"

namespace qv {

namespace {

// Plugin types whose PCMs record nothing of their own, though the hint list offers each for both
// directions (alsa-plugins installs them all):
//   null                          silence;
//   rate, speex, upmix, vdownmix, a52  converters in front of another PCM (a card's, listed itself);
//   pulse, pipewire               the sound server, whose sources are asked for by name;
//   jack, oss                     other sound systems: JACK's bridge needs its server and its
//                                 library writes to the terminal when there is none; OSS is the
//                                 kernel's copy of a card that is listed itself;
//   usb_stream                    playback only.
// Neither the hint's direction nor a trial open tells these apart (null and pulse open for capture
// without a word), and a trial open of jack prints; the definition's type does, read from ALSA's
// configuration without opening anything, so the list and the device numbers stay the same
// whatever is busy.
constexpr const char* kNoSourceTypes[] = {"null", "rate", "speex", "upmix",  "vdownmix", "a52",
                                          "pulse", "pipewire", "jack", "oss", "usb_stream"};

// The "type" of the PCM's definition, or "" when ALSA cannot say (a name it builds on the fly).
std::string PcmType(snd_config_t* top, const char* name) {
  snd_config_t* definition = nullptr;
  if (snd_config_search_definition(top, "pcm", name, &definition) < 0) return "";
  std::string type;
  snd_config_t* node = nullptr;
  const char* text = nullptr;
  if (snd_config_search(definition, "type", &node) == 0 && snd_config_get_string(node, &text) == 0 && text)
    type = text;
  snd_config_delete(definition);
  return type;
}

bool RecordsNothingOfItsOwn(const std::string& type) {
  return std::any_of(std::begin(kNoSourceTypes), std::end(kNoSourceTypes),
                     [&](const char* t) { return type == t; });
}

// ALSA's descriptions come in lines ("card, device\nwhat it is for").
std::string OneLine(const char* text) {
  std::string line = text ? text : "";
  std::replace(line.begin(), line.end(), '\n', ' ');
  return line;
}

}  // namespace

std::vector<TSoundSource> AlsaCapturePcms() {
  std::vector<TSoundSource> pcms;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0 || !hints) return pcms;
  // A reference of our own: another thread may reload the global configuration meanwhile.
  snd_config_t* top = nullptr;
  if (snd_config_update_ref(&top) < 0) top = nullptr;
  for (void** hint = hints; *hint; ++hint) {
    char* name = snd_device_name_get_hint(*hint, "NAME");
    char* ioid = snd_device_name_get_hint(*hint, "IOID");
    char* description = snd_device_name_get_hint(*hint, "DESC");
    // No IOID means the PCM does both directions. The default stays whatever it is made of.
    const bool capture = name && (!ioid || std::strcmp(ioid, "Output") != 0);
    if (capture && (std::strcmp(name, kDefaultSoundSource) == 0 || !top || !RecordsNothingOfItsOwn(PcmType(top, name))))
      pcms.push_back({name, OneLine(description), ""});
    std::free(name);
    std::free(ioid);
    std::free(description);
  }
  if (top) snd_config_unref(top);
  snd_device_name_free_hint(hints);
  return pcms;
}

std::string CaptureProblem(const std::string& pcm) {
  snd_pcm_t* handle = nullptr;
  const int err = snd_pcm_open(&handle, pcm.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (err < 0) return snd_strerror(err);
  snd_pcm_close(handle);
  return "";
}

}  // namespace qv
