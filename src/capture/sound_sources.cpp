#include "capture/sound_sources.h"

#include <alsa/asoundlib.h>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace qv {

namespace {

// ALSA's descriptions come in lines ("card, device\nwhat it is for").
std::string OneLine(const char* text) {
  std::string line = text ? text : "";
  for (char& c : line)
    if (c == '\n') c = ' ';
  return line;
}

// A sound server that does not answer within this long is taken to be absent.
constexpr auto kServerWait = std::chrono::seconds(2);

// One short conversation with the sound server on a main loop of its own.
class TSoundServerQuery {
 public:
  TSoundServerQuery() : Loop(pa_mainloop_new(), pa_mainloop_free) {
    if (Loop) Context.reset(pa_context_new(pa_mainloop_get_api(Loop.get()), "Quorvane"));
  }
  ~TSoundServerQuery() {
    if (Context) pa_context_disconnect(Context.get());
  }
  TSoundServerQuery(const TSoundServerQuery&) = delete;
  TSoundServerQuery& operator=(const TSoundServerQuery&) = delete;

  // The server's sources; false when no server answered.
  bool Sources(std::vector<TSoundSource>& sources) {
    if (!Connect()) return false;
    bool done = false;
    Reply reply{&sources, &done};
    pa_operation* operation = pa_context_get_source_info_list(Context.get(), AddSource, &reply);
    if (!operation) return false;
    pa_operation_unref(operation);
    return RunUntil([&] { return done; });
  }

 private:
  struct Reply {
    std::vector<TSoundSource>* Sources;
    bool* Done;
  };
  static void AddSource(pa_context*, const pa_source_info* info, int eol, void* data) {
    Reply& reply = *static_cast<Reply*>(data);
    if (eol) *reply.Done = true;
    else if (info && info->name) reply.Sources->push_back({info->name, OneLine(info->description)});
  }

  bool Connect() {
    if (!Context || pa_context_connect(Context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    return RunUntil([this] { return Ready(); }) && pa_context_get_state(Context.get()) == PA_CONTEXT_READY;
  }
  bool Ready() {
    const pa_context_state_t state = pa_context_get_state(Context.get());
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
  }
  // Runs the loop until `done` or the server's time is up; false on the latter.
  template <typename Done>
  bool RunUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + kServerWait;
    while (!done()) {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !PA_CONTEXT_IS_GOOD(pa_context_get_state(Context.get()))) return false;
      if (pa_mainloop_prepare(Loop.get(), static_cast<int>(left.count())) < 0 || pa_mainloop_poll(Loop.get()) < 0 ||
          pa_mainloop_dispatch(Loop.get()) < 0)
        return false;
    }
    return true;
  }

  std::unique_ptr<pa_mainloop, decltype(&pa_mainloop_free)> Loop;
  std::unique_ptr<pa_context, decltype(&pa_context_unref)> Context{nullptr, pa_context_unref};
};

std::vector<TSoundSource> SoundServerSources(bool& reached) {
  std::vector<TSoundSource> sources;
  reached = TSoundServerQuery().Sources(sources);
  return sources;
}

// ALSA's pulse plugin, reaching one source of the sound server. The name is quoted, since ALSA's
// argument syntax reads ',', '=' and the like as its own.
std::string PulsePcm(const std::string& source) {
  std::string pcm = "pulse:DEVICE=\"";
  for (char c : source) {
    if (c == '"' || c == '\\') pcm += '\\';
    pcm += c;
  }
  return pcm + "\"";
}

}  // namespace

std::vector<TSoundSource> AlsaCapturePcms() {
  std::vector<TSoundSource> pcms;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0 || !hints) return pcms;
  for (void** hint = hints; *hint; ++hint) {
    char* name = snd_device_name_get_hint(*hint, "NAME");
    char* ioid = snd_device_name_get_hint(*hint, "IOID");
    char* description = snd_device_name_get_hint(*hint, "DESC");
    // No IOID means the PCM does both directions.
    if (name && (!ioid || std::strcmp(ioid, "Output") != 0)) pcms.push_back({name, OneLine(description)});
    std::free(name);
    std::free(ioid);
    std::free(description);
  }
  snd_device_name_free_hint(hints);
  return pcms;
}

std::vector<TSoundSource> ListSoundSources() {
  std::vector<TSoundSource> sources = {{kDefaultSoundSource, "The default sound input"}};
  bool reached = false;
  std::vector<TSoundSource> server = SoundServerSources(reached);
  if (reached) sources.push_back({kDesktopSoundSource, "What the desktop plays"});
  sources.insert(sources.end(), server.begin(), server.end());
  for (TSoundSource& pcm : AlsaCapturePcms())
    if (pcm.Name != kDefaultSoundSource) sources.push_back(std::move(pcm));
  return sources;
}

std::string SoundSourcePcm(const std::string& name) {
  // The sound server's own name for the default output's monitor, so it is looked up when the
  // capture starts.
  if (name == kDesktopSoundSource) return PulsePcm("@DEFAULT_MONITOR@");
  if (name.empty() || name == kDefaultSoundSource) return kDefaultSoundSource;
  bool reached = false;
  for (const TSoundSource& source : SoundServerSources(reached))
    if (source.Name == name) return PulsePcm(name);
  return name;
}

}  // namespace qv
