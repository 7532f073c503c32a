// The recording controller on the desktop rig: real screen and sound devices, the real encoder,
// the pickers driven with xdotool, and every file judged by ffprobe/ffmpeg.
#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <sys/mount.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <regex>

#include "app/frm_main.h"
#include "app/ini_file.h"
#include "app/recording_controller.h"
#include "app_test_support.h"
#include "encoder/ff_encoder.h"
#include "recording/recording.h"
#include "selection/unit_frm_select_region.h"
#include "selection/unit_frm_select_window.h"

// Last: Xlib's macros must not meet the Qt headers.
#include <X11/Xlib.h>

namespace qv {
namespace {

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

// What ffprobe says of a file's streams, as "key=value" lines.
std::string Probe(const std::string& file) {
  return Output("ffprobe -v error -show_entries stream=codec_name,width,height,sample_rate -of default=nw=1 '" + file +
                "' 2>&1");
}

// The sound's mean level in dB (the rig plays a tone at half scale, about -9 dB); -999 without one.
double MeanVolume(const std::string& file) {
  const std::string text =
      Output("ffmpeg -nostdin -hide_banner -i '" + file + "' -map 0:a -af volumedetect -f null - 2>&1");
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(R"(mean_volume: (-?[0-9.]+) dB)"))) return -999;
  return std::stod(m[1]);
}

// End of a stream's last packet ("v" or "a"), in milliseconds.
int StreamEndMs(const std::string& file, const char* stream) {
  const std::string text = Output(std::string("ffprobe -v error -select_streams ") + stream +
                                  ":0 -show_entries packet=pts_time,duration_time -of csv=p=0 '" + file + "'");
  double end = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    double pts = 0, duration = 0;
    if (std::sscanf(line.c_str(), "%lf,%lf", &pts, &duration) == 2 && pts + duration > end) end = pts + duration;
  }
  return static_cast<int>(end * 1000 + 0.5);
}

// Mapped override-redirect windows on the screen, the frame overlay among them.
int OverlayWindows() {
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return -1;
  ::Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  int overlays = 0;
  if (XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count)) {
    for (unsigned i = 0; i < count; ++i) {
      XWindowAttributes a{};
      if (XGetWindowAttributes(dpy, children[i], &a) && a.override_redirect && a.map_state == IsViewable) ++overlays;
    }
    XFree(children);
  }
  XCloseDisplay(dpy);
  return overlays;
}

// Runs `action` once `ready` holds, checked from the event loop (the start handler is in a wait of
// its own by then). With `again`, the action is repeated every 300 ms for as long as that holds. The
// watch ends with `context` at the latest.
void WhenReady(QObject* context, std::function<bool()> ready, std::function<void()> action,
               std::function<bool()> again = nullptr) {
  auto* timer = new QTimer(context);
  timer->setInterval(50);
  QObject::connect(timer, &QTimer::timeout, [timer, ready = std::move(ready), action = std::move(action),
                                             again = std::move(again), fired = false]() mutable {
    if (!fired ? !ready() : !again()) {
      if (fired) {
        timer->stop();
        timer->deleteLater();
      }
      return;
    }
    if (!again) {
      timer->stop();
      timer->deleteLater();
    }
    fired = true;
    timer->setInterval(300);
    action();
  });
  timer->start();
}

QWidget* VisibleTopLevel(const char* className) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->inherits(className)) return w;
  return nullptr;
}

class Recording : public test::SettingsFolder {
 protected:
  void SetUp() override {
    SettingsFolder::SetUp();
    Out = Root + "/out/";
    std::filesystem::create_directories(Out);
    SetMainThreadWaker([] { QMetaObject::invokeMethod(qApp, [] { RunMainThreadCalls(); }, Qt::QueuedConnection); });
    // A stand-in for the desktop's opener: it notes what it was asked to open.
    Opened = Root + "/opened.txt";
    std::filesystem::create_directories(Root + "/bin");
    std::ofstream(Root + "/bin/xdg-open") << "#!/bin/sh\necho \"$1\" >> '" << Opened << "'\n";
    std::filesystem::permissions(Root + "/bin/xdg-open", std::filesystem::perms::owner_all);
    SavedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (Root + "/bin:" + SavedPath).c_str(), 1);
  }
  void TearDown() override {
    Controller.reset();
    Picker.reset();
    Form.reset();
    SetMainThreadWaker(nullptr);
    setenv("PATH", SavedPath.c_str(), 1);
    SettingsFolder::TearDown();
  }

  // The program's windows and controller over a settings file of `recorder` and `outputType` keys.
  void Open(const std::string& recorder, const std::string& outputType = "", const std::string& save = "") {
    // The first of two equal keys counts: the test's own come first.
    WriteOptions("[Recorder]\n" + recorder + "\nShowTip=0\nBoolPlayback=0\nBoolBlinkRecord=0\n[OutputType]\n" +
                 outputType + "\n[Save]\nOutputFolder=" + Out + "\n" + save + "\n");
    Form = std::make_unique<TFrmMain>();
    ASSERT_TRUE(Form->Initialize()) << LastMessage();
    Picker = std::make_unique<TFrmSelectRegion>();
    Controller = std::make_unique<TFFRecordingController>(*Form, *Picker);
    Form->SetController(Controller.get());
  }

  bool MenuIs(bool start, bool pause, bool resume, bool stop) const {
    return Form->MnuStartRecord->isEnabled() == start && Form->MnuPauseRecord->isEnabled() == pause &&
           Form->MnuResumeRecord->isEnabled() == resume && Form->MnuStopRecord->isEnabled() == stop;
  }
  bool Idle() const { return MenuIs(true, false, false, false); }
  // The screen device's string without the session's number, which differs from run to run.
  std::string ScreenOptions() const {
    return std::regex_replace(Controller->Recording().Plan().ScreenOptions, std::regex(";session=[0-9]+$"), "");
  }
  const std::string& AudioOptions() const { return Controller->Recording().Plan().AudioOptions; }
  TRecordingState RecordingState() const { return Controller->Recording().State(); }

  // Records for `ms` once the start went through, stops, and waits for the run's end.
  void RecordFor(int ms) {
    ASSERT_TRUE(MenuIs(false, true, false, true)) << LastMessage();
    test::WaitFor([] { return false; }, ms);
    Form->MnuStopRecord->trigger();
    ASSERT_TRUE(test::WaitFor([&] { return Idle(); }, 15000));
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(Out)) files.push_back(entry.path().string());
    return files;
  }

  void ExpectRecorded(const std::string& file, const std::string& size, int sampleRate = 44100) {
    const std::string probe = Probe(file);
    EXPECT_NE(probe.find("codec_name=msmpeg4v2"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_name=adpcm_ms"), std::string::npos) << probe;
    const size_t x = size.find('x');
    EXPECT_NE(probe.find("width=" + size.substr(0, x) + "\nheight=" + size.substr(x + 1)), std::string::npos)
        << probe << "expected " << size;
    EXPECT_NE(probe.find("sample_rate=" + std::to_string(sampleRate)), std::string::npos) << probe;
    EXPECT_GT(MeanVolume(file), -30.0) << "the rig's tone is missing from " << file;
  }

  std::string Out, Opened, SavedPath;
  std::unique_ptr<TFrmMain> Form;
  std::unique_ptr<TFrmSelectRegion> Picker;
  std::unique_ptr<TFFRecordingController> Controller;
};

TEST_F(Recording, FullScreenThroughPauseResumeAndStopWithPlayback) {
  Open("RegionToCapture=FullScreen\nBoolBlinkRecord=1\nBoolPlayback=1\nBoolRecordAudio=1");
  // The moment the stop item goes off is the "stopping" state: the run's end may follow at once.
  std::string stopping;
  QObject::connect(Form->MnuStopRecord, &QAction::changed, Form.get(), [&] {
    if (!Form->MnuStopRecord->isEnabled() && stopping.empty())
      stopping = std::to_string(MenuIs(false, false, true, false));
  });
  // The menu's items keep their rows whatever the state (the status line is always there), and
  // Exit stands apart from Options.
  const QList<QAction*> items = Form->PopupMenu->actions();
  const int stopRow = Form->PopupMenu->actionGeometry(Form->MnuStopRecord).top();
  EXPECT_EQ(Form->MnuStatus->text(), "Not recording");
  EXPECT_TRUE(items.at(items.indexOf(Form->MnuExit) - 1)->isSeparator());
  EXPECT_EQ(items.indexOf(Form->MnuExit) - items.indexOf(Form->MnuOptions), 2);
  Form->MnuStartRecord->trigger();
  const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
  const std::string size = std::to_string(screen.width()) + "," + std::to_string(screen.height());
  EXPECT_EQ(ScreenOptions(), "offset=0,0;framesize=" + size + ";framerate=25/1;showframe=1;cursor=1;skipunchanged=1");
  EXPECT_TRUE(std::regex_match(AudioOptions(), std::regex("r=44100;c=2;f=16;bufsize=17640;pause_pointer=[0-9]+"))) << AudioOptions();
  ASSERT_TRUE(MenuIs(false, true, false, true)) << LastMessage();
  EXPECT_EQ(Form->TrayState(), TTrayState::Recording);
  QElapsedTimer wall;
  wall.start();
  // The tooltip follows the run: state, recorded time, size and the file's name.
  const std::string name = std::filesystem::path(Form->OutputFileName).filename().string();
  ASSERT_TRUE(test::WaitFor([&] { return Form->TrayIcon->toolTip().contains("00:00:01"); }, 3000))
      << Form->TrayIcon->toolTip().toStdString();
  EXPECT_TRUE(std::regex_match(Form->TrayIcon->toolTip().toStdString(),
                               std::regex("Quorvane\nRecording: 00:00:01, [0-9.]+ [KM]B, " + name)))
      << Form->TrayIcon->toolTip().toStdString();
  EXPECT_EQ(Form->PopupMenu->actions(), items);
  EXPECT_EQ(Form->PopupMenu->actionGeometry(Form->MnuStopRecord).top(), stopRow);

  Form->MnuPauseRecord->trigger();
  EXPECT_TRUE(MenuIs(false, false, true, true));
  EXPECT_EQ(RecordingState(), TRecordingState::Paused);
  EXPECT_EQ(Form->TrayState(), TTrayState::Paused);
  test::WaitFor([] { return false; }, 600);
  Form->MnuResumeRecord->trigger();
  EXPECT_TRUE(MenuIs(false, true, false, true));
  EXPECT_EQ(RecordingState(), TRecordingState::Recording);
  test::WaitFor([] { return false; }, 800);

  // Stop straight from a pause.
  Form->MnuPauseRecord->trigger();
  const double wallSeconds = wall.elapsed() / 1000.0;
  Form->MnuStopRecord->trigger();
  EXPECT_EQ(stopping, "1") << "stopping: start, pause and stop off, resume left on";
  ASSERT_TRUE(test::WaitFor([&] { return Idle(); }, 15000));
  // The end is told in a balloon that names the file and its length.
  ASSERT_TRUE(test::WaitFor([&] { return !Messages.empty(); }, 2000));
  ASSERT_EQ(Messages.size(), 1u) << LastMessage();
  EXPECT_TRUE(Messages[0].Balloon);
  EXPECT_TRUE(std::regex_match(Messages[0].Text,
                               std::regex("Saved " + name + " \\(00:00:0[1-4], [0-9.]+ [KM]B\\) in " + Root + "/out")))
      << Messages[0].Text;
  EXPECT_EQ(Form->TrayIcon->toolTip(), "Quorvane");

  const std::vector<std::string> files = Files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0], Form->OutputFileName);
  EXPECT_TRUE(std::regex_match(files[0], std::regex(".*/[0-9]{4}-[0-9]{2}-[0-9]{2},[0-9]{2}_[0-9]{2}_[0-9]{2}\\.avi")))
      << files[0];
  ExpectRecorded(files[0], std::to_string(screen.width()) + "x" + std::to_string(screen.height()));
  // Paused time (0.6 s) is left out.
  const double seconds = std::stod("0" + Output("ffprobe -v error -show_entries format=duration -of csv=p=0 '" +
                                                files[0] + "'"));
  EXPECT_GT(seconds, 1.0);
  EXPECT_LT(seconds, wallSeconds - 0.3);

  // Played back through the desktop's opener.
  ASSERT_TRUE(test::WaitFor([&] { return std::filesystem::exists(Opened); }, 5000));
  std::ifstream opened(Opened);
  std::string url;
  std::getline(opened, url);
  EXPECT_EQ(url, QUrl::fromLocalFile(QString::fromStdString(files[0])).toString().toStdString());

  // The recording's log tells what was set up.
  std::ifstream log(Controller->LogFileName());
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_EQ(Controller->LogFileName().rfind(Root + "/home/.local/state/Quorvane/recording-", 0), 0u);
  EXPECT_NE(text.str().find("recording to " + files[0]), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("Stream mapping"), std::string::npos) << text.str();
}

TEST_F(Recording, RegionDrawnOnThePickerAtTheSettingsFrameSize) {
  // 160 x 120 and 22050 Hz from the settings, not the region's own size; the rig's 440 Hz as the
  // microphone mixed with the desktop's 1 kHz at half its volume (both tones at half of full scale).
  Open("RegionToCapture=Region\nBoolRecordAudio=1\nAudioSource=qv_voice.monitor\nDesktopSource=desktop\n"
       "DesktopVolume=50",
       "BoolSameToOriginal=0\nFrameSize=1\nWidth=160\nHeight=120\nAudioSamplerate=0");
  QProcess driver;
  WhenReady(Form.get(), [&] { return Picker->isVisible(); }, [&] {
    driver.start("bash", {"-c", "sleep 0.3; xdotool mousemove 200 150 click 1 mousemove 360 270 mousemove 520 390 "
                                "click 1"});
  });
  Form->MnuStartRecord->trigger();
  driver.waitForFinished(5000);
  EXPECT_EQ(SelectedOffset, "200,150");
  EXPECT_EQ(SelectedSize, "320,240");
  EXPECT_EQ(ScreenOptions(), "offset=200,150;framesize=320,240;framerate=25/1;showframe=0;cursor=1;skipunchanged=1");
  EXPECT_FALSE(Picker->isVisible());
  // Each source's level follows the status in the tooltip.
  EXPECT_TRUE(test::WaitFor([&] {
    return Form->TrayIcon->toolTip().endsWith(QString::fromUtf8("\nMicrophone \u22126 dB, Desktop \u221212 dB"));
  }, 4000)) << Form->TrayIcon->toolTip().toStdString();
  RecordFor(500);
  ASSERT_EQ(Files().size(), 1u);
  ExpectRecorded(Files()[0], "160x120", 22050);
}

// The window is picked with the finder, recorded for 3 s and then closed: the recording ends by
// itself, says so in a balloon and leaves a finished file whose sound ends with its picture.
TEST_F(Recording, WindowPickedWithTheFinderAndClosedWhileRecorded) {
  Open("RegionToCapture=Window\nBoolRecordAudio=1", "BoolSameToOriginal=1", "BoolAutoSave=0");
  auto target = std::make_unique<QWidget>();
  target->setWindowTitle("Recording target");
  target->setStyleSheet("background: #2060c0");
  target->setGeometry(300, 250, 400, 300);
  target->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(target.get()));
  test::WaitFor([] { return false; }, 300);
  const QPoint to = target->mapToGlobal(QPoint(200, 150));

  QProcess driver;
  WhenReady(Form.get(), [] { return VisibleTopLevel("qv::TFrmSelectWindow") != nullptr; }, [&] {
    auto* finder = static_cast<TFrmSelectWindow*>(VisibleTopLevel("qv::TFrmSelectWindow"));
    const QPoint from = finder->img1->mapToGlobal(QPoint(16, 16));
    const std::string script =
        "sleep 0.3; xdotool mousemove " + std::to_string(from.x()) + " " + std::to_string(from.y()) +
        "; sleep 0.2; xdotool mousedown 1; sleep 0.3; xdotool mousemove " + std::to_string(from.x() + 40) + " " +
        std::to_string(from.y() + 40) + "; sleep 0.2; xdotool mousemove " + std::to_string(to.x()) + " " +
        std::to_string(to.y()) + "; sleep 1.2; xdotool mouseup 1";
    driver.start("bash", {"-c", QString::fromStdString(script)});
  });
  // Then the save dialog: a name typed without its extension gets ".avi". (The dialog may still be
  // filling its folder view and drop what it is given too early: it is given until the dialog goes.)
  std::string dialogFolder;
  QStringList dialogFilters;
  WhenReady(
      Form.get(), [&] { return Controller->dlgSave->isVisible(); },
      [&] {
        dialogFolder = Controller->dlgSave->directory().absolutePath().toStdString() + "/";
        dialogFilters = Controller->dlgSave->nameFilters();
        // Typed into the name box (a selectFile() leaves a box that has the focus alone).
        auto* name = Controller->dlgSave->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText("clip");
        QMetaObject::invokeMethod(Controller->dlgSave, "accept");
      },
      [&] { return Controller->dlgSave->isVisible(); });
  Form->MnuStartRecord->trigger();
  driver.waitForFinished(8000);
  EXPECT_EQ(dialogFolder, Out);
  EXPECT_EQ(dialogFilters, QStringList({"AVI \u2013 MS-MPEG4 v2 / MS ADPCM (*.avi)", "MKV \u2013 H.264 / Opus (*.mkv)",
                                        "MP4 \u2013 H.264 / AAC (*.mp4)", "All Files(*.*)"}));
  EXPECT_EQ(SelectedWindow, target->winId());
  EXPECT_EQ(ScreenOptions(), "hwnd=" + std::to_string(target->winId()) +
                                 ";client=1;framerate=25/1;showframe=0;cursor=1;skipunchanged=1");
  EXPECT_EQ(Form->OutputFileName, Out + "clip.avi");
  ASSERT_TRUE(MenuIs(false, true, false, true)) << LastMessage();
  test::WaitFor([] { return false; }, 3000);
  target.reset();
  QElapsedTimer closed;
  closed.start();
  ASSERT_TRUE(test::WaitFor([&] { return Idle(); }, 5000));
  EXPECT_LT(closed.elapsed(), 2000) << "the recording ended by itself, but slowly";
  ASSERT_TRUE(test::WaitFor([&] { return !Messages.empty(); }, 2000));
  EXPECT_TRUE(Messages[0].Balloon);
  EXPECT_TRUE(std::regex_match(Messages[0].Text, std::regex("Recording stopped: .*window.*\\. The file so far is " +
                                                            Out + "clip\\.avi\\.")))
      << Messages[0].Text;
  ASSERT_EQ(Files(), std::vector<std::string>{Out + "clip.avi"});
  EXPECT_NEAR(StreamEndMs(Out + "clip.avi", "a"), StreamEndMs(Out + "clip.avi", "v"), 100);
  std::string size = SelectedSize;
  size[size.find(',')] = 'x';
  EXPECT_EQ(size, "400x300");
  ExpectRecorded(Out + "clip.avi", size);
  // What was recorded is the window: its colour, on average, give or take the pointer drawn in.
  const std::string rgb = Output("ffmpeg -nostdin -v error -ss 0.8 -i '" + Out +
                                 "clip.avi' -frames:v 1 -vf scale=1:1:flags=area -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), 3u);
  const int expected[3] = {0x20, 0x60, 0xc0};
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(static_cast<unsigned char>(rgb[i]), expected[i], 24) << "channel " << i;
}

// The format of the options window is the MP4, but a typed extension has the last word.
TEST_F(Recording, ATypedExtensionChoosesTheFormatAndAnUnknownOneIsRefused) {
  Open("RegionToCapture=FullScreen\nBoolRecordAudio=1", "Format=mp4\nFrameRate=30", "BoolAutoSave=0");
  auto startAs = [&](const QString& typed) {
    WhenReady(
        Form.get(), [&] { return Controller->dlgSave->isVisible(); },
        [&, typed] {
          auto* name = Controller->dlgSave->findChild<QLineEdit*>("fileNameEdit");
          ASSERT_NE(name, nullptr);
          name->setText(typed);
          QMetaObject::invokeMethod(Controller->dlgSave, "accept");
        },
        [&] { return Controller->dlgSave->isVisible(); });
    Form->MnuStartRecord->trigger();
  };
  startAs("clip.mov");
  EXPECT_TRUE(Idle());
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].Text.find("extension \".mov\" names no format"), std::string::npos) << Messages[0].Text;
  startAs("clip.MKV");
  EXPECT_EQ(Controller->Recording().Plan().Output.FileFormat, "matroska");
  EXPECT_NE(ScreenOptions().find(";framerate=30/1;"), std::string::npos) << ScreenOptions();
  RecordFor(2000);
  ASSERT_EQ(Files(), std::vector<std::string>{Out + "clip.MKV"});
  EXPECT_EQ(Output("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + Out + "clip.MKV'"),
            "h264\nopus\n");
}

TEST_F(Recording, AbandonedStartsLeaveTheMenuIdleWithoutAMessage) {
  {
    SCOPED_TRACE("a region of zero width");
    Open("RegionToCapture=Region");
    QProcess driver;
    WhenReady(Form.get(), [&] { return Picker->isVisible(); },
              [&] { driver.start("bash", {"-c", "sleep 0.3; xdotool mousemove 300 100 click 1 mousemove 300 400 click 1"}); });
    Form->MnuStartRecord->trigger();
    driver.waitForFinished(5000);
    EXPECT_EQ(SelectedSize, "Fail");
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(Controller->Selecting());
  }
  TearDown();
  SetUp();
  {
    SCOPED_TRACE("the save dialog cancelled");
    Open("RegionToCapture=FullScreen", "", "BoolAutoSave=0");
    WhenReady(Form.get(), [&] { return Controller->dlgSave->isVisible(); }, [&] { Controller->dlgSave->reject(); },
              [&] { return Controller->dlgSave->isVisible(); });
    Form->MnuStartRecord->trigger();
    EXPECT_TRUE(Idle());
  }
  EXPECT_TRUE(Messages.empty()) << LastMessage();
  EXPECT_TRUE(Files().empty());
}

TEST_F(Recording, FailedStartsAreSaidAndLeaveNothingOpen) {
  struct {
    const char *Name, *Folder, *PulseServer, *Expected;
    TMessageIcon Icon;
  } cases[] = {
      // A missing folder is made; one that cannot be (a file stands in its way) is said.
      {"an output folder that cannot be made", "/occupied/folder/", nullptr,
       "Cannot create the output folder .+/occupied/folder: .+", TMessageIcon::Error},
      // No sound server behind ALSA's default input: said in words, with what to do about it.
      {"no sound input", "/out/", "unix:/nonexistent/qv-socket",
       "No sound input could be opened \\(ALSA: .+\\)\\. To record without sound, clear \"Record Audio\" in Options\\.",
       TMessageIcon::Error},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Messages.clear();
    Open("RegionToCapture=FullScreen\nBoolRecordAudio=1\nBoolBlinkRecord=1");
    // The folder is read from the settings at the start.
    TIniFile ini(GetOptionsFileName());
    ini.WriteString("Save", "OutputFolder", Root + c.Folder);
    ASSERT_TRUE(ini.UpdateFile());
    std::ofstream(Root + "/occupied") << "a file, not a folder";
    const std::string pulse = std::getenv("PULSE_SERVER") ? std::getenv("PULSE_SERVER") : "";
    if (c.PulseServer) setenv("PULSE_SERVER", c.PulseServer, 1);
    const int overlays = OverlayWindows();
    Form->MnuStartRecord->trigger();
    setenv("PULSE_SERVER", pulse.c_str(), 1);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_TRUE(std::regex_match(Messages[0].Text, std::regex(c.Expected))) << Messages[0].Text;
    EXPECT_EQ(Messages[0].Text.find("pause_pointer"), std::string::npos);
    EXPECT_EQ(Messages[0].Icon, c.Icon);
    // Said as a notice: a box to click away would hold up the next start.
    EXPECT_TRUE(Messages[0].Balloon);
    EXPECT_TRUE(Idle());
    // Nothing stays open: no task, no frame left on the screen.
    EXPECT_EQ(Controller->Recording().Encoder().TaskCount(), 0);
    EXPECT_EQ(OverlayWindows(), overlays);
    TearDown();
    SetUp();
  }
}

TEST_F(Recording, AFullDiskStopsTheRecordingAndSaysSo) {
  // A file system with less free than finishing a recording needs.
  struct TMount {
    std::string Dir;
    bool Mounted;
    ~TMount() {
      if (Mounted) umount(Dir.c_str());
    }
  } small{Out, mount("tmpfs", Out.c_str(), "tmpfs", 0, "size=256k") == 0};
  if (!small.Mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
  Open("RegionToCapture=FullScreen\nBoolRecordAudio=1", "VideoBitrate=7");
  Form->MnuStartRecord->trigger();
  ASSERT_TRUE(MenuIs(false, true, false, true)) << LastMessage();
  // The run ends by itself, reports why and leaves the menu idle; nobody pressed Stop.
  ASSERT_TRUE(test::WaitFor([&] { return Idle(); }, 20000));
  ASSERT_TRUE(test::WaitFor([&] { return !Messages.empty(); }, 2000));
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_TRUE(std::regex_match(Messages[0].Text,
                               std::regex("The disk is almost full: the recording stopped at 0:0[0-9]\\. The file is " +
                                          Out + ".*\\.avi\\.")))
      << Messages[0].Text;
  EXPECT_EQ(Messages[0].Caption, "Quorvane");
  EXPECT_EQ(Messages[0].Icon, TMessageIcon::Error);
  EXPECT_TRUE(Messages[0].Balloon);
  std::ifstream log(Controller->LogFileName());
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find("The disk is almost full"), std::string::npos) << text.str();
}

TEST_F(Recording, WithoutSoundPauseAndResumeStillWork) {
  Open("RegionToCapture=FullScreen\nBoolRecordAudio=0", "BoolSameToOriginal=0\nWidth=320\nHeight=240");
  Form->MnuStartRecord->trigger();
  EXPECT_TRUE(AudioOptions().empty());
  test::WaitFor([] { return false; }, 500);
  Form->MnuPauseRecord->trigger();
  EXPECT_EQ(RecordingState(), TRecordingState::Paused);
  Form->MnuResumeRecord->trigger();
  EXPECT_EQ(RecordingState(), TRecordingState::Recording);
  RecordFor(500);
  ASSERT_EQ(Files().size(), 1u);
  const std::string probe = Probe(Files()[0]);
  EXPECT_NE(probe.find("codec_name=msmpeg4v2\nwidth=320\nheight=240"), std::string::npos) << probe;
  EXPECT_EQ(probe.find("adpcm_ms"), std::string::npos) << probe;
}

TEST_F(Recording, TwoRecordingsStartedInOneSecondKeepBothFiles) {
  Open("RegionToCapture=FullScreen\nBoolRecordAudio=0", "BoolSameToOriginal=0\nWidth=320\nHeight=240");
  // Both starts see the same second, as two quick starts do.
  const std::tm second = Controller->LocalTime();
  Controller->LocalTime = [second] { return second; };
  for (int i = 0; i < 2; ++i) {
    Form->MnuStartRecord->trigger();
    RecordFor(300);
  }
  std::vector<std::string> files = Files();
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 2u);
  EXPECT_NE(files[0].find(" (2).avi"), std::string::npos) << files[0];
  for (const std::string& file : files)
    EXPECT_NE(Probe(file).find("codec_name=msmpeg4v2\nwidth=320\nheight=240"), std::string::npos) << file;
}

TEST_F(Recording, ExitDuringARecordingFinishesTheFile) {
  Open("RegionToCapture=FullScreen\nBoolRecordAudio=1", "BoolSameToOriginal=0\nWidth=320\nHeight=240");
  Form->MnuStartRecord->trigger();
  ASSERT_TRUE(MenuIs(false, true, false, true)) << LastMessage();
  test::WaitFor([] { return false; }, 1500);
  Form->MnuExitClick();
  EXPECT_TRUE(Form->Closed());
  EXPECT_FALSE(Form->TrayIcon->isVisible());
  // Finished before the close step returned: no waiting for anything here.
  ASSERT_EQ(Files().size(), 1u);
  ExpectRecorded(Files()[0], "320x240");
  const std::string frames = Output("ffprobe -v error -select_streams v -show_entries stream=nb_frames -of csv=p=0 '" +
                                    Files()[0] + "'");
  EXPECT_GT(std::atoi(frames.c_str()), 25) << frames;
}

// The mean colour of a part of the frame 1 s into a file, each channel rounded to 0 or 255.
std::string ColourAt(const std::string& file, int x, int y, int width, int height) {
  const std::string rgb = Output("ffmpeg -nostdin -v error -ss 1 -i '" + file + "' -frames:v 1 -vf crop=" +
                                 std::to_string(width) + ":" + std::to_string(height) + ":" + std::to_string(x) + ":" +
                                 std::to_string(y) + ",scale=1:1:flags=area -f rawvideo -pix_fmt rgb24 -");
  std::string colour;
  for (unsigned char c : rgb) colour += std::string(colour.empty() ? "" : " ") + (c > 127 ? "255" : "0");
  return colour;
}

// Two monitors side by side at scale factor 2, in a desktop of their own: full screen is the
// pointer's monitor or the whole desktop as the settings say, and a region drawn across both on
// the picker is recorded where it was drawn, in desktop pixels.
TEST_F(Recording, OnTwoScaledMonitorsFullScreenFollowsTheSettingAndARegionLandsWhereItWasDrawn) {
  if (std::string(std::getenv("QV_RIG_MONITORS") ? std::getenv("QV_RIG_MONITORS") : "") != "2") {
    if (geteuid() != 0) GTEST_SKIP() << "the two-monitor desktop needs root";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(std::system(("'" QV_TEST_SOURCE_DIR "/../scripts/desktop-rig.sh' --monitors 2 --scale 2 -- '" + self +
                           "' --gtest_filter=Recording.OnTwoScaled*")
                              .c_str()),
              0);
    return;
  }
  // Red on LEFT, blue on RIGHT (display says 1 even when the root shows the picture).
  ASSERT_EQ(std::system(("convert -size 1920x1080 xc:red xc:blue +append '" + Root + "/desktop.png' && { display " +
                         "-window root '" + Root + "/desktop.png'; true; }")
                            .c_str()),
            0);
  struct {
    const char* Screen;
    const char* Pointer;
    const char* Area;
    const char* Colour;
  } fullScreens[] = {
      {"", "3000 500", "offset=1920,0;framesize=1920,1080", "0 0 255"},
      {"Screen=all\n", "3000 500", "offset=0,0;framesize=3840,1080", "255 0 0"},
      {"Screen=LEFT\n", "3000 500", "offset=0,0;framesize=1920,1080", "255 0 0"},
  };
  for (const auto& c : fullScreens) {
    SCOPED_TRACE(c.Area);
    Open(std::string(c.Screen) + "RegionToCapture=FullScreen\nBoolRecordAudio=1");
    ASSERT_EQ(std::system((std::string("xdotool mousemove ") + c.Pointer).c_str()), 0);
    Form->MnuStartRecord->trigger();
    EXPECT_EQ(ScreenOptions(), std::string(c.Area) + ";framerate=25/1;showframe=0;cursor=1;skipunchanged=1");
    RecordFor(1500);
    ASSERT_EQ(Files().size(), 1u);
    EXPECT_EQ(ColourAt(Files()[0], 100, 100, 400, 400), c.Colour);
    std::filesystem::remove(Files()[0]);
    TearDown();
    SetUp();
  }
  Open("RegionToCapture=Region\nBoolRecordAudio=1");
  QProcess driver;
  WhenReady(Form.get(), [&] { return Picker->isVisible(); }, [&] {
    driver.start("bash", {"-c", "sleep 0.3; xdotool mousemove 1800 101 mousedown 1 mousemove 1900 200 "
                                "mousemove 2040 301 mouseup 1"});
  });
  Form->MnuStartRecord->trigger();
  driver.waitForFinished(5000);
  EXPECT_EQ(ScreenOptions(), "offset=1800,101;framesize=240,200;framerate=25/1;showframe=0;cursor=1;skipunchanged=1");
  RecordFor(1500);
  ASSERT_EQ(Files().size(), 1u);
  ExpectRecorded(Files()[0], "240x200");
  EXPECT_EQ(ColourAt(Files()[0], 0, 0, 110, 200), "255 0 0");
  EXPECT_EQ(ColourAt(Files()[0], 130, 0, 110, 200), "0 0 255");
}

}  // namespace
}  // namespace qv
