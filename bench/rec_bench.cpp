// Recording benchmark: quorvane-rec against the ffmpeg command line on the same desktop, same run.
//
//   scripts/desktop-rig.sh -- build/bin/rec_bench [--seconds 60] [--rounds 1] [--sizes 1920x1080,1280x720]
//                                                 [--workloads static,typing,drag,motion]
//                                                 [--no-pauses] [--keep DIR] [--rec PATH] [--format avi|mkv]
//   build/bin/rec_bench --animate SECONDS     (only the moving content, to profile a recorder by hand)
//   scripts/wayland-rig.sh --desktop gnome --xwayland -- build/bin/rec_bench --wayland [--seconds 60] ...
//
// Needs a desktop with sound (DISPLAY, and PULSE_SERVER or a default pulse source), as the desktop
// rig provides. Workloads: "static" (the desktop as it is), "typing" (a text window that gets about
// 8 characters a second, like typing into a terminal), "drag" (a 640x480 window moved all the time)
// and "motion" (a window of its own over the whole screen that repaints 25 times a second). For each
// workload and size it records --seconds with quorvane-rec, with the tray program's recording path
// (rec_bench_tray, when built), on the still desktop also with quorvane-rec's key labels, click
// rings and spotlight on ("overlays"; nothing is pressed or moved, so it should cost what "ours"
// does), and with
//   ffmpeg -f x11grab -framerate 25 -video_size WxH -i $DISPLAY -f pulse -i default
//          -c:v msmpeg4v2 -b:v 360k -c:a adpcm_ms -ar 44100 out.avi
// alternating (ours, ffmpeg, ours, ffmpeg, ...). With --format mkv both record H.264 into MKV, ffmpeg
// with libx264 at superfast (crf 23, 4:2:0) and Opus, and the tray program's path is left out (it
// records what its options window says). A smaller size records the screen's top-left corner.
// Each recording ends by itself after --seconds of recorded time. Per recording it prints CPU
// seconds per recorded second (user+sys of the recorder, from wait4), for quorvane-rec also its floor
// (the processor time it spent converting and coding the pictures, from its last log lines), peak
// RSS, the RSS after 10 s and at the end (a flat run keeps them close), the slots in the header
// (ffprobe nb_frames; a held picture is an empty chunk there), coded frames (ffprobe -count_frames),
// dup/drop as the recorder reports them and audio minus video duration, and the presets quorvane-rec's
// H.264 encoder ran and how long; then ours/ffmpeg ratios and the pictures coded per slot. Unless
// --no-pauses, one more quorvane-rec recording at the first size pauses three times for 2 s
// (SIGUSR1/SIGUSR2) and reports the same figures.
// With --wayland (on the Wayland rig's GNOME desktop with Xwayland, which shows the same moving
// content) both recorders take the whole screen the ScreenCast portal shares, into an MKV (H.264 and
// Opus): quorvane-rec --backend pipewire against GStreamer (bench/portal_gst.py: pipewiresrc on the
// portal's remote, videorate to 25 fps, videoconvert, x264enc at the same preset and quality), each
// handed a permission seeded in the desktop's permission store, so nothing asks; there is no
// tray program run and no pause run.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void SleepSeconds(double s) {
  if (s <= 0) return;
  timespec ts{time_t(s), long((s - double(time_t(s))) * 1e9)};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// ---- moving content -------------------------------------------------------------------------------

// An unmanaged window at the top left, mapped above everything, for a workload to draw into.
Window TopWindow(Display* dpy, int w, int h, unsigned long background, unsigned border) {
  const int scr = DefaultScreen(dpy);
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  attrs.background_pixel = background;
  Window win = XCreateWindow(dpy, RootWindow(dpy, scr), 0, 0, unsigned(w), unsigned(h), border, CopyFromParent,
                             InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
  XMapRaised(dpy, win);
  return win;
}

// Scrolling coloured bars, a band of shifting stripes and a bouncing block over the whole screen,
// repainted 25 times a second: every frame differs everywhere, like a video playing full screen.
[[noreturn]] void Animate() {
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) _exit(1);
  const int scr = DefaultScreen(dpy);
  const int w = DisplayWidth(dpy, scr), h = DisplayHeight(dpy, scr);
  Window win = TopWindow(dpy, w, h, BlackPixel(dpy, scr), 0);
  GC gc = XCreateGC(dpy, win, 0, nullptr);
  const Visual* visual = DefaultVisual(dpy, scr);
  auto rgb = [&](int r, int g, int b) -> unsigned long {
    if (visual->red_mask == 0xF800) return (unsigned long)(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
    return (unsigned long)((r << 16) | (g << 8) | b);
  };
  int bx = 100, by = 100, dx = 13, dy = 9;
  for (long frame = 0;; ++frame) {
    const double start = Now();
    const int bars = 24, barW = w / bars + 1;
    for (int i = 0; i < bars; ++i) {
      const int hue = int((i * 37 + frame * 5) % 256);
      XSetForeground(dpy, gc, rgb(hue, (hue * 3) % 256, 255 - hue));
      XFillRectangle(dpy, win, gc, int((i * barW + frame * 7) % (w + barW)) - barW, 0, unsigned(barW), unsigned(h / 2));
    }
    for (int i = 0; i < 64; ++i) {
      const int v = int((i * 4 + frame * 11) % 256);
      XSetForeground(dpy, gc, rgb(v, 255 - v, (v * 7) % 256));
      XFillRectangle(dpy, win, gc, 0, h / 2 + i * (h / 2) / 64, unsigned(w), unsigned(h / 128 + 1));
    }
    bx += dx;
    by += dy;
    if (bx < 0 || bx > w - 200) dx = -dx;
    if (by < 0 || by > h - 200) dy = -dy;
    XSetForeground(dpy, gc, rgb(255, 255, 255));
    XFillRectangle(dpy, win, gc, bx, by, 200, 200);
    XSync(dpy, False);
    SleepSeconds(0.04 - (Now() - start));
  }
}

// A window that a text grows in, about 8 characters a second, with a line break now and then.
[[noreturn]] void Type() {
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) _exit(1);
  const int scr = DefaultScreen(dpy);
  Window win = TopWindow(dpy, 900, 600, WhitePixel(dpy, scr), 0);
  GC gc = XCreateGC(dpy, win, 0, nullptr);
  XSetForeground(dpy, gc, BlackPixel(dpy, scr));
  const std::string text = "the quick brown fox jumps over the lazy dog; ";
  int col = 0, row = 0;
  for (long n = 0;; ++n) {
    const char c = text[size_t(n) % text.size()];
    XDrawString(dpy, win, gc, 10 + col * 8, 20 + row * 16, &c, 1);
    XSync(dpy, False);
    if (++col == 100) col = 0, row = (row + 1) % 35;
    if (col == 0 && row == 0) XClearWindow(dpy, win);
    SleepSeconds(0.125);
  }
}

// A 640x480 window with a pattern, moved around the screen all the time as if dragged.
[[noreturn]] void Drag() {
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) _exit(1);
  const int scr = DefaultScreen(dpy);
  const int w = DisplayWidth(dpy, scr), h = DisplayHeight(dpy, scr);
  Window win = TopWindow(dpy, 640, 480, WhitePixel(dpy, scr), 2);
  GC gc = XCreateGC(dpy, win, 0, nullptr);
  int x = 0, y = 0, dx = 9, dy = 5;
  for (;;) {
    x += dx;
    y += dy;
    if (x < 0 || x > w - 640) dx = -dx;
    if (y < 0 || y > h - 480) dy = -dy;
    XMoveWindow(dpy, win, x, y);
    for (int i = 0; i < 8; ++i) {
      XSetForeground(dpy, gc, (unsigned long)(0x204080 * (i + 1)) & 0xFFFFFF);
      XFillRectangle(dpy, win, gc, i * 80, 0, 40, 480);
    }
    XSync(dpy, False);
    SleepSeconds(0.04);
  }
}

// The content of a workload, in a process of its own; 0 for the still desktop.
pid_t StartWorkload(const std::string& name) {
  if (name == "static") return 0;
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (name == "typing") Type();
  if (name == "drag") Drag();
  Animate();
}

// ---- running a recorder ---------------------------------------------------------------------------

struct TResult {
  std::string Tool, Size, Note;
  bool Ok = false;
  double Seconds = 0;  // video duration in the file
  double CpuPerSecond = 0;
  long PeakRssKb = 0, RssAt10Kb = 0, RssEndKb = 0;
  long Frames = 0;  // coded
  long Slots = 0;   // in the header
  long Dup = 0, Drop = 0;
  double AvMs = 0;  // audio end minus video end
  double FloorPerSecond = NAN;  // converting and coding alone, as quorvane-rec's log says
  std::string Presets;          // the H.264 presets quorvane-rec ran, as its log says
};

long RssKb(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

// The end of the last packet of the first stream of `kind` ("v" or "a"), in seconds; -1 if none.
double StreamEnd(const std::string& file, const char* kind) {
  std::istringstream lines(Capture("ffprobe -v error -select_streams " + std::string(kind) +
                                   ":0 -show_entries packet=pts_time,duration_time -of csv=p=0 '" + file + "'"));
  std::string line;
  double end = -1;
  while (std::getline(lines, line)) {
    double pts = 0, dur = 0;
    if (std::sscanf(line.c_str(), "%lf,%lf", &pts, &dur) >= 1) end = std::max(end, pts + dur);
  }
  return end;
}

long LastNumberAfter(const std::string& text, const std::string& key) {
  const size_t at = text.rfind(key);
  return at == std::string::npos ? 0 : std::atol(text.c_str() + at + key.size());
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Runs `argv` with stderr to `log`; `pauses` are (start, length) in seconds of wall time after the
// start, sent as SIGUSR1/SIGUSR2. Returns false when the program failed or had to be killed.
bool RunRecorder(const std::vector<std::string>& argv, const std::string& log, double limit,
                 const std::vector<std::pair<double, double>>& pauses, TResult& r) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    setenv("QV_LOG_LEVEL", "info", 1);  // quorvane-rec's last lines then say what coding cost
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  const double start = Now();
  size_t nextPause = 0;
  bool pausedNow = false, killed = false, sampled10 = false;
  int status = 0;
  rusage usage{};
  for (;;) {
    const pid_t done = wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    const double t = Now() - start;
    const long rss = RssKb(pid);
    if (rss > 0) r.RssEndKb = rss;
    if (!sampled10 && t >= 10) {
      r.RssAt10Kb = rss;
      sampled10 = true;
    }
    if (nextPause < pauses.size()) {
      if (!pausedNow && t >= pauses[nextPause].first) {
        kill(pid, SIGUSR1);
        pausedNow = true;
      } else if (pausedNow && t >= pauses[nextPause].first + pauses[nextPause].second) {
        kill(pid, SIGUSR2);
        pausedNow = false;
        ++nextPause;
      }
    }
    if (t > limit && !killed) {
      kill(pid, SIGINT);
      killed = true;
    }
    if (t > limit + 20) kill(pid, SIGKILL);
    SleepSeconds(0.05);
  }
  r.PeakRssKb = usage.ru_maxrss;
  const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.CpuPerSecond = cpu;  // divided by the recorded time below
  if (killed) r.Note = "overran its time";
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Judge(const std::string& file, const std::string& log, TResult& r) {
  const std::string frames = Capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                     "stream=nb_read_frames -of csv=p=0 '" + file + "'");
  r.Frames = std::atol(frames.c_str());
  r.Slots = std::atol(Capture("ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 '" +
                              file + "'").c_str());
  const double v = StreamEnd(file, "v"), a = StreamEnd(file, "a");
  r.Seconds = v;
  r.AvMs = (v >= 0 && a >= 0) ? (a - v) * 1000 : NAN;
  if (v > 0) r.CpuPerSecond /= v;
  const std::string text = ReadFile(log);
  r.Dup = LastNumberAfter(text, "dup=");
  r.Drop = LastNumberAfter(text, "drop=");
  double convert = 0, code = 0;
  const size_t at = text.rfind("video: converted in ");
  if (at != std::string::npos && v > 0 &&
      std::sscanf(text.c_str() + at, "video: converted in %lf and coded in %lf", &convert, &code) == 2)
    r.FloorPerSecond = (convert + code) / v;
  const std::string ran = "the encoder's presets ran ";
  const size_t presets = text.rfind(ran);
  if (presets != std::string::npos)
    r.Presets = text.substr(presets + ran.size(), text.find('\n', presets) - presets - ran.size());
}

// A permission to share the GNOME rig's monitor, seeded as a returning user's; its restore token.
std::string SeedScreenPermission() {
  const std::string token = Capture("cat /proc/sys/kernel/random/uuid");
  const std::string t = token.substr(0, token.find('\n'));
  const std::string store = "gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore --object-path "
                            "/org/freedesktop/impl/portal/PermissionStore --method "
                            "org.freedesktop.impl.portal.PermissionStore";
  Capture(store + ".SetPermission screencast true " + t + " '' \"['yes']\" >/dev/null && " + store +
          ".SetValue screencast true " + t +
          " \"<('GNOME', uint32 1, <(int64 0, int64 0, [(uint32 0, uint32 1, "
          "<'MetaVendor:MetaVirtualMonitor:0x00'>)])>)>\" >/dev/null");
  return t;
}

void PrintHeader() {
  std::printf("%-8s %-10s %-12s %7s %9s %9s %9s %9s %9s %7s %7s %9s %9s  %s\n", "size", "tool", "run", "rec.s",
              "cpu/s", "floor/s", "peakMB", "rss10MB", "rssEndMB", "slots", "coded", "dup/drop", "A-V ms", "note");
}

void PrintRow(const TResult& r, const std::string& run) {
  char dd[32];
  std::snprintf(dd, sizeof(dd), "%ld/%ld", r.Dup, r.Drop);
  std::printf("%-8s %-10s %-12s %7.2f %9.3f %9.3f %9.1f %9.1f %9.1f %7ld %7ld %9s %9.1f  %s%s\n", r.Size.c_str(),
              r.Tool.c_str(), run.c_str(), r.Seconds, r.CpuPerSecond, r.FloorPerSecond, r.PeakRssKb / 1024.0,
              r.RssAt10Kb / 1024.0, r.RssEndKb / 1024.0, r.Slots, r.Frames, dd, r.AvMs, r.Ok ? "" : "FAILED ",
              (r.Note + (r.Presets.empty() ? "" : "presets " + r.Presets)).c_str());
  std::fflush(stdout);
}

std::string SelfDir() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return ".";
  std::string path(buf, size_t(n));
  return path.substr(0, path.rfind('/'));
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 60, rounds = 1;
  double animateOnly = 0;  // > 0: only show the moving content for this long (for profiling by hand)
  bool pauses = true, wayland = false;
  std::string sizes = "1920x1080,1280x720", workloads = "static,typing,drag,motion", keep,
              rec = SelfDir() + "/quorvane-rec", format = "avi";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--seconds") seconds = std::atoi(next().c_str());
    else if (a == "--rounds") rounds = std::atoi(next().c_str());
    else if (a == "--sizes") sizes = next();
    else if (a == "--workloads") workloads = next();
    else if (a == "--no-pauses") pauses = false;
    else if (a == "--keep") keep = next();
    else if (a == "--rec") rec = next();
    else if (a == "--format") format = next();
    else if (a == "--animate") animateOnly = std::atof(next().c_str());
    else if (a == "--wayland") wayland = true;
    else {
      std::fprintf(stderr, "usage: rec_bench [--seconds N] [--rounds N] [--sizes WxH,...] [--no-pauses] "
                           "[--workloads static,typing,drag,motion] [--keep DIR] [--rec PATH] [--format avi|mkv] "
                           "[--animate SECONDS] [--wayland]\n");
      return 2;
    }
  }
  if (format != "avi" && format != "mkv") {
    std::fprintf(stderr, "rec_bench: --format is avi or mkv\n");
    return 2;
  }
  const bool h264 = format == "mkv";
  if (seconds < 5 || rounds < 1) {
    std::fprintf(stderr, "rec_bench: --seconds must be at least 5 and --rounds at least 1\n");
    return 2;
  }
  const char* display = std::getenv("DISPLAY");
  if (!display) {
    std::fprintf(stderr, "rec_bench: no DISPLAY; run it under scripts/desktop-rig.sh\n");
    return 2;
  }
  if (animateOnly > 0) {
    const pid_t pid = fork();
    if (pid == 0) Animate();
    SleepSeconds(animateOnly);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return 0;
  }
  std::string dir = keep;
  if (dir.empty()) {
    char tmpl[] = "/tmp/qv-rec-bench.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    dir = tmpl;
  } else {
    mkdir(dir.c_str(), 0755);
  }

  std::vector<std::string> sizeList, workloadList;
  for (std::stringstream ss(sizes); std::getline(ss, sizes, ',');) sizeList.push_back(sizes);
  for (std::stringstream ss(workloads); std::getline(ss, workloads, ',');) workloadList.push_back(workloads);
  const std::string tray = SelfDir() + "/rec_bench_tray";
  const bool withTray = !wayland && !h264 && access(tray.c_str(), X_OK) == 0;
  if (wayland) pauses = false;
  const std::string other = wayland ? "gst" : "ffmpeg";
  const std::string gstHelper = SelfDir() + "/../../bench/portal_gst.py";

  std::printf("rec_bench: %d s per recording, %d round(s), display %s, files in %s\n", seconds, rounds, display,
              dir.c_str());
  PrintHeader();
  // Per "workload size": the results of each tool.
  std::map<std::string, std::map<std::string, std::vector<TResult>>> results;
  const std::string secs = std::to_string(seconds);
  for (const std::string& workload : workloadList) {
    const pid_t content = StartWorkload(workload);
    SleepSeconds(1.0);
    for (const std::string& size : sizeList) {
      int w = 0, h = 0;
      if (std::sscanf(size.c_str(), "%dx%d", &w, &h) != 2) continue;
      const std::string region = "0,0," + std::to_string(w) + "," + std::to_string(h);
      for (int round = 0; round < rounds; ++round) {
        for (const std::string& tool : {std::string("ours"), other, std::string("tray"), std::string("overlays")}) {
          if (tool == "tray" && !withTray) continue;
          if (tool == "overlays" && (wayland || workload != "static")) continue;
          TResult r;
          r.Size = size;
          r.Tool = tool;
          const std::string file = dir + "/" + workload + "-" + tool + "-" + size + "-" + std::to_string(round) + "." +
                                   (wayland ? "mkv" : format);
          const std::string log = file + ".log";
          std::vector<std::string> args;
          if (wayland && tool == "ours") {
            args = {rec, "--backend", "pipewire", "--fullscreen", "--restore-token", SeedScreenPermission(),
                    "--duration", secs, file};
          } else if (wayland) {
            args = {"/usr/bin/python3", gstHelper, SeedScreenPermission(), secs, file};
          } else if (tool == "ours") {
            args = {rec, "--region", region, "--duration", secs, file};
          } else if (tool == "overlays") {
            args = {rec, "--region", region, "--show-keys", "--show-clicks", "--spotlight", "--duration", secs,
                    file};
          } else if (tool == "tray") {
            args = {tray, region, secs, file};
          } else {
            args = {"ffmpeg", "-nostdin", "-y", "-f", "x11grab", "-framerate", "25", "-video_size", size, "-i",
                    std::string(display) + "+0,0", "-f", "pulse", "-i", "default"};
            const std::vector<std::string> codecs =
                h264 ? std::vector<std::string>{"-c:v", "libx264", "-preset", "superfast", "-crf", "23", "-pix_fmt",
                                                "yuv420p", "-c:a", "libopus", "-b:a", "96k", "-ar", "48000"}
                     : std::vector<std::string>{"-c:v", "msmpeg4v2", "-b:v", "360k", "-c:a", "adpcm_ms", "-ar", "44100"};
            args.insert(args.end(), codecs.begin(), codecs.end());
            args.insert(args.end(), {"-t", secs, file});
          }
          r.Ok = RunRecorder(args, log, seconds + 25.0, {}, r);
          Judge(file, log, r);
          PrintRow(r, workload + " " + std::to_string(round + 1));
          results[workload + " " + size][tool].push_back(r);
        }
      }
    }
    if (content > 0) {
      kill(content, SIGTERM);
      waitpid(content, nullptr, 0);
    }
  }
  if (pauses && !sizeList.empty()) {
    int w = 0, h = 0;
    std::sscanf(sizeList[0].c_str(), "%dx%d", &w, &h);
    TResult r;
    r.Size = sizeList[0];
    r.Tool = "ours";
    const std::string file = dir + "/ours-pauses." + format;
    const double third = seconds / 4.0;
    r.Ok = RunRecorder({rec, "--region", "0,0," + std::to_string(w) + "," + std::to_string(h), "--duration", secs, file},
                       file + ".log", seconds + 25.0, {{third, 2.0}, {2 * third, 2.0}, {3 * third, 2.0}}, r);
    Judge(file, file + ".log", r);
    PrintRow(r, "3 pauses x2s");
  }

  std::printf("\nratios to %s (means over the rounds; \"ours/floor\": quorvane-rec's CPU over its converting and\n"
              "coding alone, on the same pictures; \"coded/slot\": pictures coded per slot of the recorded time)\n"
              "%-20s %9s %9s %9s %10s %9s %9s %9s %9s %10s %10s\n", other.c_str(), "workload size", "cpu ours", "cpu tray", "rss ours",
              "ours/floor", "slots", "coded", "coded ff", "expected", "coded/slot", "ff/slot");
  auto mean = [](const std::vector<TResult>& v, auto field) {
    double sum = 0;
    for (const TResult& r : v) sum += double(field(r));
    return v.empty() ? NAN : sum / double(v.size());
  };
  auto cpu = [](const TResult& r) { return r.CpuPerSecond; };
  for (auto& [key, tools] : results) {
    const auto& o = tools["ours"];
    const auto& f = tools[other];
    const double ffCpu = mean(f, cpu);
    auto perSlot = [](const TResult& r) { return r.Seconds > 0 ? double(r.Frames) / (25 * r.Seconds) : NAN; };
    std::printf("%-20s %9.3f %9.3f %9.3f %10.2f %9.1f %9.1f %9.1f %9d %10.3f %10.3f\n", key.c_str(), mean(o, cpu) / ffCpu,
                mean(tools["tray"], cpu) / ffCpu,
                mean(o, [](const TResult& r) { return r.PeakRssKb; }) / mean(f, [](const TResult& r) { return r.PeakRssKb; }),
                mean(o, cpu) / mean(o, [](const TResult& r) { return r.FloorPerSecond; }),
                mean(o, [](const TResult& r) { return r.Slots; }), mean(o, [](const TResult& r) { return r.Frames; }),
                mean(f, [](const TResult& r) { return r.Frames; }), 25 * seconds, mean(o, perSlot), mean(f, perSlot));
  }
  // Watching keys and clicks must cost nothing while none comes: the still desktop with them on.
  for (auto& [key, tools] : results)
    if (!tools["overlays"].empty())
      std::printf("%-20s overlays on/off cpu %.3f\n", key.c_str(),
                  mean(tools["overlays"], cpu) / mean(tools["ours"], cpu));
  if (keep.empty()) std::system(("rm -rf '" + dir + "'").c_str());
  return 0;
}
