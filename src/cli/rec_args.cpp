#include "cli/rec_args.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace qv {

namespace {

// Whole decimal numbers only: "12abc", "", " 5" and overflow are all refused.
bool ParseInt(const std::string& text, long long min, long long max, long long& value, int base = 10) {
  if (text.empty()) return false;
  const char first = text[0];
  const bool digit = (first >= '0' && first <= '9') || (base == 16 && std::isxdigit(static_cast<unsigned char>(first)));
  if (!digit && !(first == '-' && min < 0)) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, base);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < min || v > max) return false;
  value = v;
  return true;
}

// Splits "a<sep>b<sep>..." into exactly `count` integers within [min, max].
bool ParseInts(const std::string& text, char sep, int count, long long min, long long max, long long* out) {
  size_t start = 0;
  for (int i = 0; i < count; ++i) {
    const size_t end = i + 1 < count ? text.find(sep, start) : text.size();
    if (end == std::string::npos) return false;
    if (!ParseInt(text.substr(start, end - start), min, max, out[i])) return false;
    start = end + 1;
  }
  return true;
}

constexpr long long kMaxDimension = 16384;
constexpr long long kMaxCountdown = 60;

// The options that take no value and only set one switch of the command.
struct TFlagOption {
  const char* Name;
  bool TRecCommand::*Field;
  bool Value;
};
constexpr TFlagOption kFlagOptions[] = {
    {"--no-audio", &TRecCommand::Audio, false},
    {"--list-audio-sources", &TRecCommand::ListAudioSources, true},
    {"--list-monitors", &TRecCommand::ListMonitors, true},
    {"--blink", &TRecCommand::Blink, true},
    {"--every-frame", &TRecCommand::EveryFrame, true},
    {"--show-clicks", &TRecCommand::ShowClicks, true},
    {"--spotlight", &TRecCommand::Spotlight, true},
    {"--keep-proportions", &TRecCommand::KeepProportions, true},
    {"--forget-screen-permission", &TRecCommand::ForgetScreenPermission, true},
};

const TFlagOption* FindFlagOption(const std::string& name) {
  for (const TFlagOption& flag : kFlagOptions)
    if (name == flag.Name) return &flag;
  return nullptr;
}

// What the options say together, once each was read alone: conflicts, and the choices that
// follow from others.
std::string CheckRecCommand(TRecCommand& cmd, int areaOptions, bool monitorGiven,
                            const std::optional<TKeysCorner>& keysCorner) {
  if (cmd.Help || cmd.ListAudioSources || cmd.ListMonitors) return "";
  if (!cmd.Audio && !cmd.AudioSource.empty()) return "give --no-audio or --audio-source, not both";
  for (const auto& [name, percent] : cmd.Volumes)
    if (std::find(cmd.AudioSources.begin(), cmd.AudioSources.end(), name) == cmd.AudioSources.end())
      return "--volume " + name + "=" + std::to_string(percent) + " names no --audio-source";
  if (areaOptions > 1) return "give at most one of --fullscreen, --region, --window, --title";
  // Regions and windows are in desktop coordinates already; a monitor would be silently ignored.
  if (monitorGiven && cmd.Area != TRecArea::FullScreen)
    return "--monitor chooses the screen of a full-screen recording only";
  if (cmd.Node) {
    if (cmd.BackendGiven && cmd.Backend != TCaptureBackend::PipeWire) return "--node needs the pipewire backend";
    cmd.Backend = TCaptureBackend::PipeWire;
    cmd.BackendGiven = true;
  }
  if (cmd.KeepProportions && cmd.OutWidth == 0) return "--keep-proportions needs --size";
  if (keysCorner && !cmd.ShowKeys) return "--keys-corner needs --show-keys";
  if (keysCorner) cmd.ShowKeys->Corner = *keysCorner;
  if (!cmd.RestoreToken.empty() && cmd.ForgetScreenPermission)
    return "give --restore-token or --forget-screen-permission, not both";
  if (cmd.Output.empty() && cmd.ForgetScreenPermission) return "";  // only the permission is forgotten
  if (cmd.Output.empty()) return "no output file given";
  return "";
}

}  // namespace

std::string ParseRecArgs(const std::vector<std::string>& args, TRecCommand& cmd) {
  cmd = TRecCommand();
  int areaOptions = 0;
  bool monitorGiven = false;
  std::optional<TKeysCorner> keysCorner;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      if (!cmd.Output.empty()) return "more than one output file given (\"" + cmd.Output + "\", \"" + arg + "\")";
      cmd.Output = arg;
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string value;
    bool inlineValue = false;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      inlineValue = true;
    }
    auto takeValue = [&]() -> bool {
      if (inlineValue) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    auto noValue = [&]() { return !inlineValue; };

    if (const TFlagOption* flag = FindFlagOption(arg)) {
      if (!noValue()) return arg + " takes no value";
      cmd.*flag->Field = flag->Value;
    } else if (arg == "-h" || arg == "--help") {
      cmd.Help = true;
    } else if (arg == "-y" || arg == "-n") {
      cmd.Overwrite = arg == "-y" ? TOverwrite::Always : TOverwrite::Never;
    } else if (arg == "--fullscreen") {
      if (!noValue()) return "--fullscreen takes no value";
      cmd.Area = TRecArea::FullScreen;
      ++areaOptions;
    } else if (arg == "--region") {
      if (!takeValue()) return "--region needs X,Y,W,H";
      long long v[4];
      if (!ParseInts(value, ',', 4, 0, kMaxDimension, v) || v[2] < 1 || v[3] < 1)
        return "bad region \"" + value + "\" (expected X,Y,W,H with a width and height of at least 1)";
      cmd.Area = TRecArea::Region;
      cmd.RegionX = int(v[0]);
      cmd.RegionY = int(v[1]);
      cmd.RegionWidth = int(v[2]);
      cmd.RegionHeight = int(v[3]);
      ++areaOptions;
    } else if (arg == "--window") {
      if (!takeValue()) return "--window needs an X window id, or pick";
      long long id = 0;
      // xwininfo and xdotool print ids in hex or decimal; both are taken. "pick": the desktop's
      // dialog (Wayland has no window ids to give).
      const bool hex = value.rfind("0x", 0) == 0 || value.rfind("0X", 0) == 0;
      if (value != "pick" && !ParseInt(hex ? value.substr(2) : value, 1, 0xFFFFFFFFLL, id, hex ? 16 : 10))
        return "bad window id \"" + value + "\"";
      cmd.Area = TRecArea::Window;
      cmd.WindowId = std::uint32_t(id);
      ++areaOptions;
    } else if (arg == "--title") {
      if (!takeValue() || value.empty()) return "--title needs a window title";
      cmd.Area = TRecArea::Title;
      cmd.Title = value;
      ++areaOptions;
    } else if (arg == "--monitor") {
      if (!takeValue() || value.empty()) return "--monitor needs pointer, all, a monitor's name or its number";
      cmd.Monitor = value;
      monitorGiven = true;
    } else if (arg == "--audio-source") {
      if (!takeValue() || value.empty()) return "--audio-source needs a sound source (see --list-audio-sources)";
      if (cmd.AudioSources.empty()) cmd.AudioSource = value;
      cmd.AudioSources.push_back(value);
    } else if (arg == "--volume") {
      const std::size_t eq = takeValue() ? value.rfind('=') : std::string::npos;
      long long percent = 0;
      if (eq == std::string::npos || eq == 0 || !ParseInt(value.substr(eq + 1), 0, 200, percent))
        return "bad volume \"" + value + "\" (a source's name, \"=\" and 0 to 200 percent)";
      cmd.Volumes.emplace_back(value.substr(0, eq), int(percent));
    } else if (arg == "--countdown") {
      long long seconds = 0;
      if (!takeValue() || !ParseInt(value, 0, kMaxCountdown, seconds))
        return "bad countdown \"" + value + "\" (whole seconds, 0 to " + std::to_string(kMaxCountdown) + ")";
      cmd.CountdownSeconds = int(seconds);
    } else if (arg == "--show-keys") {
      if (!cmd.ShowKeys) cmd.ShowKeys.emplace();
      cmd.ShowKeys->Mode = TKeysMode::Combinations;
      if (inlineValue && !ParseKeysMode(value, cmd.ShowKeys->Mode)) return "--show-keys takes only =all or =combinations";
    } else if (arg == "--keys-corner") {
      TKeysCorner corner{};
      if (!takeValue() || !ParseKeysCorner(value, corner))
        return "--keys-corner needs bottom-left, bottom-right, top-left or top-right";
      keysCorner = corner;
    } else if (arg == "--size") {
      if (!takeValue()) return "--size needs WxH";
      long long v[2];
      if (!ParseInts(value, 'x', 2, 1, kMaxDimension, v) || v[0] < 2 || v[1] < 2)
        return "bad frame size \"" + value + "\" (expected WxH, for example 1280x720)";
      cmd.OutWidth = int(v[0]);
      cmd.OutHeight = int(v[1]);
    } else if (arg == "--format") {
      if (!takeValue() || !ParseOutputFormat(value, cmd.Format)) return "--format needs avi, mkv or mp4";
      cmd.FormatGiven = true;
    } else if (arg == "--quality") {
      if (!takeValue() || !ParseVideoQuality(value, cmd.Quality)) return "--quality needs high, medium or low";
      cmd.QualityGiven = true;
    } else if (arg == "--fps") {
      long long fps = 0;
      if (!takeValue() || !ParseInt(value, 1, 1000, fps) || !IsOfferedFrameRate(int(fps)))
        return "--fps needs one of 10, 15, 20, 25, 30, 50, 60";
      cmd.FrameRate = int(fps);
    } else if (arg == "--vb" || arg == "--ab") {
      if (!takeValue()) return arg + " needs a bit rate in kbit/s";
      long long kbps = 0;
      if (!ParseInt(value, 1, 100000, kbps)) return "bad bit rate \"" + value + "\" for " + arg + " (kbit/s, 1 to 100000)";
      (arg == "--vb" ? cmd.VideoKbps : cmd.AudioKbps) = int(kbps);
      if (arg == "--vb") cmd.VideoKbpsGiven = true;
    } else if (arg == "--ar") {
      if (!takeValue()) return "--ar needs 22050 or 44100";
      if (value != "22050" && value != "44100") return "bad sample rate \"" + value + "\" (22050 or 44100)";
      cmd.SampleRate = std::atoi(value.c_str());
    } else if (arg == "--duration") {
      if (!takeValue()) return "--duration needs a number of seconds";
      errno = 0;
      char* end = nullptr;
      const double seconds = std::strtod(value.c_str(), &end);
      if (value.empty() || errno != 0 || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 ||
          seconds > 7 * 24 * 3600.0)
        return "bad duration \"" + value + "\" (seconds, more than 0)";
      cmd.DurationUs = std::llround(seconds * 1e6);
    } else if (arg == "--backend") {
      if (!takeValue() || !ParseCaptureBackend(value, cmd.Backend))
        return "--backend needs x11 or pipewire";
      cmd.BackendGiven = true;
    } else if (arg == "--restore-token") {
      if (!takeValue() || value.empty()) return "--restore-token needs the token a screen portal gave";
      cmd.RestoreToken = value;
    } else if (arg == "--node") {
      long long node = 0;
      if (!takeValue() || !ParseInt(value, 1, 0xFFFFFFFFLL, node)) return "--node needs a PipeWire node id";
      cmd.Node = std::uint32_t(node);
    } else {
      return "unknown option \"" + args[i] + "\"";
    }
  }
  return CheckRecCommand(cmd, areaOptions, monitorGiven, keysCorner);
}

std::string RecUsage() {
  return "usage: quorvane-rec [--fullscreen | --region X,Y,W,H | --window XID | --title TEXT]\n"
         "                    [--monitor pointer|all|NAME|N] [--no-audio | --audio-source NAME...]\n"
         "                    [--volume NAME=PERCENT...]\n"
         "                    [--format avi|mkv|mp4] [--quality high|medium|low] [--fps N] [--size WxH]\n"
         "                    [--keep-proportions] [--vb KBPS] [--ar 22050|44100] [--blink]\n"
         "                    [--every-frame] [--show-clicks] [--show-keys[=all]] [--keys-corner CORNER]\n"
         "                    [--spotlight] [--duration SECONDS] [--countdown SECONDS]\n"
         "                    [--backend x11|pipewire] [--node ID] [--restore-token TOKEN]\n"
         "                    [--forget-screen-permission] [-y | -n] OUTPUT\n"
         "       quorvane-rec --list-audio-sources | --list-monitors\n"
         "       quorvane-rec --forget-screen-permission\n"
         "\n"
         "Records the screen (and the default sound input), with the pointer drawn in, into an AVI\n"
         "(MS-MPEG4 v2 and MS ADPCM), an MKV (H.264 and Opus) or an MP4 (H.264 and AAC) file.\n"
         "\n"
         "Examples:\n"
         "  quorvane-rec --duration 10 demo.mkv\n"
         "      10 s of the monitor holding the pointer, with the default sound input, into an MKV\n"
         "  quorvane-rec --region 0,0,1280,720 --audio-source desktop --fps 30 clip.mp4\n"
         "      a rectangle of the desktop with what the desktop plays, until Ctrl-C or q\n"
         "  quorvane-rec --window \"$(xdotool selectwindow)\" --no-audio window.avi\n"
         "      the window you click on, followed when it moves, without sound\n"
         "\n"
         "  --fullscreen        a whole monitor (the default)\n"
         "  --monitor WHICH     for --fullscreen: \"pointer\", the monitor holding the pointer (the\n"
         "                      default), \"all\", the whole desktop, or one monitor by its name or\n"
         "                      its number from 0, as `xrandr --listmonitors` shows them\n"
         "  --list-monitors     print the monitors --monitor takes, by number and name; record nothing\n"
         "  --region X,Y,W,H    a rectangle of the desktop (it may span monitors)\n"
         "  --window XID        one window's own area, without the window manager's title bar,\n"
         "                      followed when it moves (id in decimal or 0x hex); on Wayland\n"
         "                      \"--window pick\" lets you pick it in the desktop's dialog\n"
         "  --title TEXT        the top-level window with exactly this title\n"
         "  --no-audio          video only\n"
         "  --audio-source NAME record the sound from this source: \"desktop\" for what the desktop\n"
         "                      plays, a sound server's source or an ALSA device by name (default:\n"
         "                      ALSA's default input); give it twice (a microphone and \"desktop\")\n"
         "                      to record both, mixed, each on the recording's clock (\"desktop\" is\n"
         "                      the Desktop in the progress line's levels, any other source a Microphone, told\n"
         "                      when silent for 10 s)\n"
         "  --volume NAME=PERCENT  that source's volume in the mix, 0 to 200 (default 100)\n"
         "  --list-audio-sources  print the sound sources that can record, with their names, and\n"
         "                      those that cannot now, with why; record nothing\n"
         "  --format NAME       avi (the default), mkv or mp4; without it the output's extension\n"
         "                      decides, and a name without one gets the format's. An MKV or MP4 cut\n"
         "                      off by a crash plays up to about a second before it\n"
         "  --quality LEVEL     H.264's quality for mkv and mp4: high, medium (the default) or low\n"
         "  --fps N             frames a second: 10, 15, 20, 25 (the default), 30, 50 or 60\n"
         "  --size WxH          output frame size (default: the size of the area)\n"
         "  --keep-proportions  with --size: keep the area's proportions, with black bars\n"
         "  --vb KBPS           the AVI's video bit rate in kbit/s (default 360)\n"
         "  --ar RATE           audio sample rate, 22050 or 44100 (default 44100; Opus takes 48000).\n"
         "                      The sound's bit rate follows from the format and this rate (MS ADPCM\n"
         "                      357 kbit/s at 44100 Hz, 178 at 22050 Hz; Opus 96; AAC 128), so the\n"
         "                      --ab KBPS of older scripts is taken and has no effect\n"
         "  --blink             show a blinking frame around the recorded area\n"
         "  --every-frame       code every frame, also those in which nothing on screen changed (by\n"
         "                      default they repeat the frame before, at next to no cost)\n"
         "  --show-clicks       a fading ring around the pointer at each mouse button press (amber for\n"
         "                      the left button, red for the right), in the recording only\n"
         "  --spotlight         a soft highlight around the pointer while it moves, and stronger rings\n"
         "                      with --show-clicks: the pointer found at a glance in a large recording\n"
         "  --show-keys         the keys pressed, as labels in a corner of the recording: key\n"
         "                      combinations (Ctrl, Alt or Super with a key) and keys such as Enter,\n"
         "                      Esc, Backspace, the arrows and the F-keys, never plain typed text\n"
         "  --show-keys=all     every key pressed, typed text gathered into one label too\n"
         "  --keys-corner WHERE bottom-left (the default), bottom-right, top-left or top-right\n"
         "  --duration SECONDS  stop after this much recorded time (pauses not counted)\n"
         "  --countdown SECONDS count down this long on the terminal before recording (Ctrl-C cancels)\n"
         "  --backend NAME      x11: the X server's screen; pipewire: the desktop's screen portal\n"
         "                      (default: pipewire on a Wayland session that has the portal)\n"
         "  --node ID           record this PipeWire video node as it is, without asking the portal\n"
         "  --restore-token TOKEN  on Wayland, share the screen with this permission a screen\n"
         "                      portal gave before, without asking. Without it the permission kept\n"
         "                      from the last recording on this desktop is used, and the new one\n"
         "                      kept (in ~/.local/state/Quorvane/)\n"
         "  --forget-screen-permission  forget the kept permission: the desktop asks again (alone:\n"
         "                      forget it and record nothing)\n"
         "  -y                  overwrite OUTPUT if it exists (without -y an existing file is refused)\n"
         "  -n                  never overwrite OUTPUT (an existing file is refused)\n"
         "\n"
         "The progress line gives the recorded time, the frame slots recorded so far (time x rate),\n"
         "how many of them were coded (a slot in which nothing on screen changed repeats the picture\n"
         "before at next to no cost, unless --every-frame), the file's size, and the frames repeated\n"
         "(dup) or dropped (drop) to keep the rate: both stay 0 while the machine keeps up.\n"
         "\n"
         "While recording: Ctrl-C, SIGTERM or SIGHUP (the terminal closed) stops and finishes the file;\n"
         "SIGUSR1 pauses and SIGUSR2 resumes; on a terminal the space bar toggles pause and q stops.\n"
         "A recording that stops by itself (its window closed, the disk full) says why and keeps the\n"
         "file so far.\n"
         "Exit status: 0 when the file was finished, 1 on failure (a recording that stopped by itself\n"
         "included), 2 for a bad command line or an OUTPUT that exists (without -y).\n";
}

}  // namespace qv
