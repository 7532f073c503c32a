#include "capture/sound_sources.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>

namespace qv {

namespace {

// An operation whose end the caller does not wait for.
void Drop(pa_operation* operation) {
  if (operation) pa_operation_unref(operation);
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

  // The server's sources, its default one first, a sink's monitor named after the sink; false
  // when no server answered.
  bool Sources(std::vector<TSoundSource>& sources) {
    if (!Connect()) return false;
    TReply reply;
    if (!Ask(pa_context_get_server_info(Context.get(), TakeServer, &reply), reply) ||
        !Ask(pa_context_get_sink_info_list(Context.get(), TakeSink, &reply), reply) ||
        !Ask(pa_context_get_source_info_list(Context.get(), TakeSource, &reply), reply))
      return false;
    // Stable: the server's own order after the default.
    std::stable_partition(reply.Sources.begin(), reply.Sources.end(),
                          [&](const TSoundSource& s) { return s.Name == reply.DefaultSource; });
    sources = std::move(reply.Sources);
    return true;
  }

 private:
  struct TReply {
    bool Done = false;
    std::string DefaultSource;
    std::map<std::uint32_t, std::string> Sinks;  // index -> description
    std::vector<TSoundSource> Sources;
  };
  static void TakeServer(pa_context*, const pa_server_info* info, void* data) {
    TReply& reply = *static_cast<TReply*>(data);
    if (info && info->default_source_name) reply.DefaultSource = info->default_source_name;
    reply.Done = true;
  }
  static void TakeSink(pa_context*, const pa_sink_info* info, int eol, void* data) {
    TReply& reply = *static_cast<TReply*>(data);
    if (eol) reply.Done = true;
    else if (info) reply.Sinks[info->index] = info->description ? info->description : info->name;
  }
  // The server calls a sink's monitor "Monitor of <sink>"; what it records is what the sink plays.
  static void TakeSource(pa_context*, const pa_source_info* info, int eol, void* data) {
    TReply& reply = *static_cast<TReply*>(data);
    if (eol) {
      reply.Done = true;
      return;
    }
    if (!info || !info->name) return;
    TSoundSource source{info->name, info->description ? info->description : info->name, ""};
    if (const auto sink = reply.Sinks.find(info->monitor_of_sink); sink != reply.Sinks.end())
      source.Description = "Sound played on " + sink->second;
    // A microphone socket with nothing in it records silence.
    if (info->active_port && info->active_port->available == PA_PORT_AVAILABLE_NO)
      source.Unavailable = "nothing is plugged in";
    reply.Sources.push_back(std::move(source));
  }
  // Waits for one request's answer.
  bool Ask(pa_operation* operation, TReply& reply) {
    if (!operation) return false;
    Drop(operation);
    reply.Done = false;
    return RunUntil([&] { return reply.Done; });
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

std::vector<TSoundSource> SurveySoundSources() {
  std::vector<TSoundSource> sources = {{kDefaultSoundSource, "The default sound input", CaptureProblem(kDefaultSoundSource)}};
  bool reached = false;
  std::vector<TSoundSource> server = SoundServerSources(reached);
  if (reached) {
    sources.push_back({kDesktopSoundSource, "What the desktop plays", ""});
    sources.insert(sources.end(), server.begin(), server.end());
    // The server holds the cards: their PCMs would be its own sources again, or busy.
    return sources;
  }
  for (TSoundSource& pcm : AlsaCapturePcms()) {
    if (pcm.Name == kDefaultSoundSource) continue;
    pcm.Unavailable = CaptureProblem(pcm.Name);
    sources.push_back(std::move(pcm));
  }
  return sources;
}

std::vector<TSoundSource> ListSoundSources() {
  std::vector<TSoundSource> sources = SurveySoundSources();
  std::erase_if(sources, [](const TSoundSource& s) { return !s.Unavailable.empty(); });
  return sources;
}

TSoundSourcePcm SoundSourcePcm(const std::string& name) {
  // The sound server's own name for the default output's monitor, so it is looked up when the
  // capture starts.
  if (name == kDesktopSoundSource) return {PulsePcm("@DEFAULT_MONITOR@")};
  if (name.empty() || name == kDefaultSoundSource) return {kDefaultSoundSource};
  bool reached = false;
  for (const TSoundSource& source : SoundServerSources(reached))
    if (source.Name == name) return {PulsePcm(name), true};
  return {name};
}

// Lives on the watch's main loop thread once the loop runs; the constructor and the destructor
// touch it only with the loop stopped or under the loop's lock.
struct TSoundSourceWatch::TState {
  std::string Source;
  std::function<void()> Gone;
  pa_threaded_mainloop* Loop = nullptr;
  pa_context* Context = nullptr;
  std::uint32_t Index = PA_INVALID_INDEX;
  bool Told = false;

  void Tell() {
    if (Told) return;
    Told = true;
    Gone();
  }
  static void StateChanged(pa_context* context, void* data) {
    if (pa_context_get_state(context) != PA_CONTEXT_READY) return;
    pa_context_set_subscribe_callback(context, Event, data);
    Drop(pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr));
    Drop(pa_context_get_source_info_by_name(context, static_cast<TState*>(data)->Source.c_str(), Found, data));
  }
  static void Found(pa_context*, const pa_source_info* info, int eol, void* data) {
    TState& state = *static_cast<TState*>(data);
    if (info) state.Index = info->index;
    else if (eol && state.Index == PA_INVALID_INDEX) state.Tell();
  }
  static void Event(pa_context*, pa_subscription_event_type_t type, std::uint32_t index, void* data) {
    TState& state = *static_cast<TState*>(data);
    const bool removed = (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
    if (removed && index == state.Index) state.Tell();
  }
};

TSoundSourceWatch::TSoundSourceWatch(const std::string& source, std::function<void()> gone)
    : State(std::make_unique<TState>()) {
  State->Source = source;
  State->Gone = std::move(gone);
  State->Loop = pa_threaded_mainloop_new();
  if (!State->Loop) return;
  State->Context = pa_context_new(pa_threaded_mainloop_get_api(State->Loop), "Quorvane source watch");
  if (!State->Context) return;
  pa_context_set_state_callback(State->Context, TState::StateChanged, State.get());
  // Without a server there is nothing to watch: ALSA's own errors tell of a server that died.
  if (pa_context_connect(State->Context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return;
  pa_threaded_mainloop_start(State->Loop);
}

TSoundSourceWatch::~TSoundSourceWatch() {
  if (State->Loop) pa_threaded_mainloop_stop(State->Loop);
  if (State->Context) {
    pa_context_disconnect(State->Context);
    pa_context_unref(State->Context);
  }
  if (State->Loop) pa_threaded_mainloop_free(State->Loop);
}

}  // namespace qv
