#include "app/app_main.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/frm_control.h"
#include "app/frm_main.h"
#include "app/message_box.h"
#include "app/notices.h"
#include "app/recording_controller.h"
#include "app/remote_control.h"
#include "app/shell_log.h"
#include "app/single_instance.h"
#include "app/unit_general.h"
#include "media/main_thread.h"
#include "media/signal_pipe.h"
#include "selection/unit_frm_select_region.h"

// Last: its macros (None, Bool, Status) would clash with the toolkit's names.
#include <X11/Xlib.h>

namespace qv {

namespace {

constexpr int kGoOn = -1;
// The first-run tip has the balloon for up to five seconds; the settings' place comes after it.
constexpr int kSettingsNoticeDelayMs = 5500;
// How long a tray host is given to show up (a session starts its panel alongside its programs).
constexpr int kTrayHostWaitMs = 5000;

// --help, --version and the remote control's commands need no desktop: they are answered before
// the toolkit is started.
int AnswerCommandLine(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (TRemoteCommand command; RemoteCommandOf(argv[i], command)) return RunRemoteCommand(argc, argv, command);
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("quorvane %s\n", QV_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "Usage: quorvane [--help] [--version]\n"
          "       quorvane --start | --stop | --pause | --resume | --toggle | --show | --status | --recent\n"
          "Records the desktop, a region or a window to an AVI, MKV or MP4 file (the format chosen in\n"
          "Options), with sound (on X11, or on Wayland through the desktop's screen-sharing portal).\n"
          "It runs in the system tray; a click on its icon opens the menu that starts and stops\n"
          "recordings and opens the options.\n"
          "On a desktop without a system tray it shows a small window of its own instead.\n"
          "The commands tell the running Quorvane to start (as its settings say), stop, pause or resume\n"
          "a recording, to start or stop (--toggle), to show its menu or window, or to say what it records\n"
          "(--status), or to show the recent recordings (--recent); bind them to keys in the desktop's keyboard settings. They exit with 0, or with 1\n"
          "and the reason (\"Quorvane is not running.\", \"Nothing is being recorded.\").\n"
          "Starting quorvane again while it runs brings its menu or window forward.\n"
          "Settings: %s\n"
          "Recording logs: %s\n",
          GetOptionsFileName().c_str(), GetStateFolder().c_str());
      return 0;
    }
  }
  return kGoOn;
}

// A Wayland session's socket: WAYLAND_DISPLAY names it in XDG_RUNTIME_DIR, or is its path.
bool WaylandSocketThere() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (!name || !*name) return false;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::filesystem::path path =
      name[0] == '/' ? std::filesystem::path(name) : std::filesystem::path(runtime ? runtime : "") / name;
  std::error_code ec;
  return std::filesystem::is_socket(path, ec);
}

// The toolkit aborts the process when it finds no display server; the user is told what is missing.
bool XDisplayReachable() {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) {
    ShellLog(llError,
             "no desktop: no Wayland session is reachable and DISPLAY is not set. Start Quorvane in a Wayland or X "
             "session.");
    return false;
  }
  ::Display* display = XOpenDisplay(nullptr);
  if (!display) {
    ShellLog(llError, "the X display \"" + std::string(name) +
                          "\" cannot be opened (no X server there, or access refused).");
    return false;
  }
  XCloseDisplay(display);
  return true;
}

// A Wayland session is used natively unless the toolkit is told to use X; without an X display the
// toolkit must not fall back to looking for one.
bool DesktopReachable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const bool wantsX = platform && std::strncmp(platform, "xcb", 3) == 0;
  if (!wantsX && WaylandSocketThere()) {
    const char* display = std::getenv("DISPLAY");
    if (!platform && (!display || !*display)) setenv("QT_QPA_PLATFORM", "wayland", 0);
    return true;
  }
  return XDisplayReachable();
}

// A first start writes the settings file from the defaults; only one that is there and cannot be
// read is the install's fault. `created` says whether the file is new.
bool SettingsFileReady(const std::string& options, bool& created) {
  std::error_code ec;
  created = false;
  if (options.empty()) {
    ShowMessageBox(nullptr,
                   "Quorvane has no place for its settings: neither XDG_CONFIG_HOME nor a home folder is known.",
                   "Quorvane", TMessageIcon::Error);
    return false;
  }
  if (!std::filesystem::exists(options, ec)) {
    std::string error;
    if (!CreateOptionsFile(options, error)) {
      ShowMessageBox(nullptr, error, "Quorvane", TMessageIcon::Error);
      return false;
    }
    created = true;
  }
  if (!std::filesystem::is_regular_file(options, ec) || access(options.c_str(), R_OK) != 0) {
    ShowMessageBox(nullptr, "The settings file " + options + " cannot be read. Please re-install Quorvane.",
                   "Quorvane", TMessageIcon::Error);
    return false;
  }
  return true;
}

void TellWhereTheSettingsAre(TFrmMain& form, const std::string& options) {
  QTimer::singleShot(kSettingsNoticeDelayMs, &form, [&form, options] {
    form.Notices().Show({"Your settings were written to " + options + ".", TMessageIcon::Information, {}});
  });
}

// Without a tray host the program would run unseen: after the wait it shows a window of its own.
// Once shown, the window stays even if a tray host comes later; the user may have come to rely on it.
// The wait counts from the program's start, which loading the media libraries has delayed.
void ShowControlWindowWithoutTray(TFrmMain& form, std::unique_ptr<TFrmControl>& control,
                                  const QElapsedTimer& sinceStart) {
  const int wait = int(std::max<qint64>(0, kTrayHostWaitMs - sinceStart.elapsed()));
  QTimer::singleShot(wait, &form, [&form, &control] {
    if (form.Closed() || QSystemTrayIcon::isSystemTrayAvailable()) return;
    ShellLog(llInfo, "no system tray on this desktop; showing the control window");
    control = std::make_unique<TFrmControl>(form);
    control->show();
  });
}

// On Wayland the tray is a StatusNotifierItem or nothing, and the toolkit settles which once, when
// the icon is made: a bar started alongside the program would get no icon if the program came first.
// So the icon is made once a host has registered with the session's watcher, or when the wait for a
// tray host is over (then the control window comes at once, as it would have).
void WaitForStatusNotifierHost(const QElapsedTimer& sinceStart) {
  if (QGuiApplication::platformName() != QLatin1String("wayland")) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage ask = QDBusMessage::createMethodCall("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                                    "org.freedesktop.DBus.Properties", "Get");
  ask << QStringLiteral("org.kde.StatusNotifierWatcher") << QStringLiteral("IsStatusNotifierHostRegistered");
  constexpr int kAskTimeoutMs = 500;
  while (sinceStart.elapsed() < kTrayHostWaitMs) {
    const QDBusMessage reply = bus.call(ask, QDBus::Block, kAskTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
        reply.arguments().first().value<QDBusVariant>().variant().toBool())
      return;
    QThread::msleep(100);
  }
}

// Starting the program again is how a user looks for it: the running one shows its menu or window.
// One that has only just started (a double click on the launcher) takes commands once its tray
// host has been waited for and its window is made.
int BringRunningInstanceForward() {
  QElapsedTimer waited;
  waited.start();
  TRemoteAnswer answer = AskRunningInstance(TRemoteCommand::Show);
  while (answer.Kind == TRemoteAnswer::NotReached && waited.elapsed() < kTrayHostWaitMs + 2000) {
    QThread::msleep(200);
    answer = AskRunningInstance(TRemoteCommand::Show);
  }
  if (answer.Kind == TRemoteAnswer::Done) {
    std::printf("Quorvane is already running. %s\n", answer.Text.c_str());
    return 0;
  }
  ShowMessageBox(nullptr,
                 "Quorvane already runs.\nIt did not answer, so it cannot be brought forward" +
                     (answer.Text.empty() ? std::string(".") : ": " + answer.Text),
                 "Quorvane", TMessageIcon::Information);
  return 1;
}

}  // namespace

int RunQuorvane(int argc, char** argv) {
  QElapsedTimer sinceStart;
  sinceStart.start();
  if (int code = AnswerCommandLine(argc, argv); code != kGoOn) return code;
  AttachShellLog(nullptr);
  if (!DesktopReachable()) return 1;
  MarkMainThread();
  // The toolkit first: every refusal below is told in a message box.
  QApplication app(argc, argv);
  TSingleInstance instance;
  if (!instance.Acquire(kInstanceLock)) {
    if (instance.AlreadyRunning()) return BringRunningInstanceForward();
    ShowMessageBox(nullptr, "Quorvane cannot tell whether it runs already: " + instance.LastError(), "Quorvane",
                   TMessageIcon::Error);
    return 1;
  }
  QApplication::setApplicationName("Quorvane");
  // Message boxes come and go while the options window is hidden; none of that ends the program.
  QApplication::setQuitOnLastWindowClosed(false);

  const std::string options = GetOptionsFileName();
  bool created = false;
  if (!SettingsFileReady(options, created)) return 1;

  // Workers hand calls to the main thread; the event loop runs them as soon as one is queued.
  SetMainThreadWaker([&app] { QMetaObject::invokeMethod(&app, [] { RunMainThreadCalls(); }, Qt::QueuedConnection); });

  WaitForStatusNotifierHost(sinceStart);
  TFrmMain form;
  if (!form.Initialize()) {
    SetMainThreadWaker(nullptr);
    return 1;
  }
  if (created) TellWhereTheSettingsAre(form, options);
  std::unique_ptr<TFrmControl> control;  // after the form: it mirrors the form's menu
  ShowControlWindowWithoutTray(form, control, sinceStart);
  // Hidden until a region is asked for.
  TFrmSelectRegion picker;
  // A desktop session that ends by signalling its clients, or a user's kill, must still finish a
  // running recording: the signal becomes "Exit" on the main thread. (A refusal above still ends
  // the program on a signal.)
  TSignalPipe finishSignals;
  QSocketNotifier signalNotifier(finishSignals.Fd(), QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, &form, [&form, &finishSignals] {
    if (finishSignals.Take() != 0 && !form.Closed()) form.MnuExitClick();
  });
  // Declared after the windows, so it goes first: the recording is over before they are destroyed.
  TFFRecordingController controller(form, picker);
  form.SetController(&controller);
  controller.RecoverInterrupted();
  // Commands from outside, once there is something to drive; gone before the controller.
  TRemoteControl remote(form, controller, [&control] { return static_cast<QWidget*>(control.get()); });
  remote.Listen();
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, [&form](QSessionManager&) {
    form.QueryEndSession();
  });
  // However the loop ends (session manager, signal, Exit), the close step has run before the
  // window and the recording's objects are destroyed.
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &form, [&form] { form.FormClose(); });

  int code = app.exec();
  SetMainThreadWaker(nullptr);
  return code;
}

}  // namespace qv
