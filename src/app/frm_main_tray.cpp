// The window as the program's owner: creation sequence, tray icon and menu, close and exit.
#include "app/recent_recordings.h"
#include "app/recent_window.h"
#include "app/frm_main.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>

#include "app/frm_about.h"
#include "app/global_shortcuts.h"
#include "app/help_window.h"
#include "app/hotkey_grabber.h"
#include "app/message_box.h"
#include "app/notices.h"
#include "app/recording_controller.h"
#include "app/unit_general.h"
#include "media/library_kind.h"
#include "media/loader.h"

// Last: Xlib's macros must not meet the Qt headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

// The icons are compiled into the static qv_app library, whose resource initialiser the linker
// would drop: it is called from here, outside any namespace, as the macro requires.
static void InitAppResources() { Q_INIT_RESOURCE(quorvane); }

namespace qv {

namespace {
constexpr const char* kNotRecording = "Not recording";

QIcon StateIcon(TTrayState state) {
  switch (state) {
    case TTrayState::Recording:
      return QIcon(":/quorvane/recording.png");
    case TTrayState::Paused:
      return QIcon(":/quorvane/paused.png");
    case TTrayState::Idle:
      break;
  }
  return QIcon(":/quorvane/idle.png");
}
}  // namespace

void TFrmMain::BuildTray() {
  static const bool resourcesReady = (InitAppResources(), true);
  (void)resourcesReady;
  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName("PopupMenu");
  auto item = [this](const char* name, const char* caption, void (TFrmMain::*handler)()) {
    QAction* action = PopupMenu->addAction(QString::fromLatin1(caption));
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    // The recording items are the recording state; the icon follows them.
    connect(action, &QAction::changed, this, [this] { UpdateTrayIcon(); });
    return action;
  };
  // Not a command: what the recording under way has done, or that there is none. Always there, so
  // that the items below keep their places from one opening of the menu to the next.
  MnuStatus = PopupMenu->addAction(QString::fromLatin1(kNotRecording));
  MnuStatus->setObjectName("MnuStatus");
  MnuStatus->setEnabled(false);
  PopupMenu->addSeparator();
  MnuStartRecord = item("MnuStartRecord", "Start Recording", &TFrmMain::MnuStartRecordClick);
  MnuPauseRecord = item("MnuPauseRecord", "Pause Recording", &TFrmMain::MnuPauseRecordClick);
  MnuResumeRecord = item("MnuResumeRecord", "Resume Recording", &TFrmMain::MnuResumeRecordClick);
  MnuStopRecord = item("MnuStopRecord", "Stop Recording", &TFrmMain::MnuStopRecordClick);
  PopupMenu->addSeparator();
  MnuRecent = PopupMenu->addAction(QString::fromUtf8("Recent Recordings…"));
  MnuRecent->setObjectName("MnuRecent");
  connect(MnuRecent, &QAction::triggered, this, [this] { MnuRecentClick(); });
  MnuOptions = item("MnuOptions", "Options...", &TFrmMain::MnuOptionsClick);
  // Apart from the rest: a slip of the hand from Options must not end the program.
  PopupMenu->addSeparator();
  MnuExit = item("MnuExit", "Exit", &TFrmMain::MnuExitClick);

  for (TTrayState state : {TTrayState::Idle, TTrayState::Recording, TTrayState::Paused})
    StateIcons[int(state)] = StateIcon(state);
  TrayIcon = new QSystemTrayIcon(StateIcons[int(TTrayState::Idle)], this);
  TrayIcon->setObjectName("TrayIcon");
  TrayIcon->setToolTip("Quorvane");
  // Its changes reach the tooltip, which needs the icon.
  connect(MnuStatus, &QAction::changed, this, [this] { UpdateTrayIcon(); });
  // Wayland places no popup at a screen position and has no other tray than the StatusNotifierItem,
  // whose host shows the menu the icon exports (on a right click): there the menu is handed to the
  // icon, and a left click opens the options window.
  const bool wayland = QGuiApplication::platformName() == QLatin1String("wayland");
  if (wayland) TrayIcon->setContextMenu(PopupMenu);
  // Elsewhere a left or a right click opens the menu, as desktops' tray icons do; it is popped up
  // here rather than handed to the icon, so it comes up on every press, whatever the host.
  connect(TrayIcon, &QSystemTrayIcon::activated, this, [this, wayland](QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Context && reason != QSystemTrayIcon::Trigger) return;
    if (wayland) {
      if (reason == QSystemTrayIcon::Trigger) MnuOptionsClick();
      return;
    }
    PopupMenu->popup(QCursor::pos());
    PopupMenu->activateWindow();
  });
  setWindowIcon(StateIcons[int(TTrayState::Idle)]);
}

bool TFrmMain::Initialize() {
  TFFLoader& loader = FFLoader();
  if (!loader.AllLoaded(kEncoderLibraries)) {
    loader.SetLibraryPath(GetLibraryFolder());
    if (!loader.LoadLibraries(kEncoderLibraries)) {
      ShowMessageBox(nullptr, loader.LastError() + " Please re-install the program and try it again.", "Error",
                     TMessageIcon::Error);
      return false;
    }
  }
  ExitRequested = false;
  TrayIcon->show();
  LoadSettings(true);
  MnuStopRecord->setEnabled(false);
  MnuPauseRecord->setEnabled(false);
  MnuResumeRecord->setEnabled(false);
  return true;
}

void TFrmMain::ShowFirstRunTip() {
  FNotices->OnceIconPlaced([this] {
    // Without a tray host there is no icon to point at; the control window explains itself.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    TrayIcon->showMessage("Quorvane", "Right click the icon and use Quorvane with the popup menu.",
                          QSystemTrayIcon::Information, 3000);
  });
}

TTrayState TFrmMain::TrayState() const {
  if (MnuStartRecord->isEnabled()) return TTrayState::Idle;
  if (MnuResumeRecord->isEnabled()) return TTrayState::Paused;
  return TTrayState::Recording;
}

void TFrmMain::UpdateTrayIcon() {
  static const char* const kTips[] = {"Quorvane", "Quorvane (recording)", "Quorvane (paused)"};
  TTrayState state = TrayState();
  // The status changes every second of a recording: a new icon each time would be a new entry in
  // the toolkit's pixmap cache each second, which grows to its limit over a long recording. The
  // icon is set when the state changes, one made once for each state.
  if (!IconShown || *IconShown != state) {
    TrayIcon->setIcon(StateIcons[int(state)]);
    IconShown = state;
  }
  const bool withStatus = state != TTrayState::Idle && MnuStatus->text() != QLatin1String(kNotRecording);
  const QString levels = SoundLevels().isEmpty() ? QString() : "\n" + SoundLevels();
  TrayIcon->setToolTip(withStatus ? "Quorvane\n" + MnuStatus->text() + levels : QString(kTips[int(state)]));
}

void TFrmMain::ShowRecordingStatus(const std::string& status) {
  if (status.empty()) MnuStatus->setStatusTip({});
  MnuStatus->setText(status.empty() ? QString::fromLatin1(kNotRecording) : QString::fromStdString(status));
}

void TFrmMain::ShowHotkeysInMenu(const std::array<std::string, 4>& texts) {
  const long ids[4] = {StartHotkeyId, StopHotkeyId, PauseHotkeyId, ResumeHotkeyId};
  std::array<std::string, 4> held;
  for (int i = 0; i < 4; ++i)
    if (ids[i] != -1 && Grabber->IsRegistered(ids[i])) held[i] = texts[i];
  ShowKeysInMenu(held);
}

void TFrmMain::ShowKeysInMenu(const std::array<std::string, 4>& keys) {
  QAction* items[4] = {MnuStartRecord, MnuStopRecord, MnuPauseRecord, MnuResumeRecord};
  for (int i = 0; i < 4; ++i) {
    const QString caption = items[i]->text().section('\t', 0, 0);
    items[i]->setText(keys[i].empty() ? caption : caption + '\t' + QString::fromStdString(keys[i]));
  }
}

void TFrmMain::MnuStartRecordClick() {
  if (Controller) Controller->MnuStartRecordClick(*this);
}

void TFrmMain::MnuPauseRecordClick() {
  if (Controller) Controller->MnuPauseRecordClick(*this);
}

void TFrmMain::MnuResumeRecordClick() {
  if (Controller) Controller->MnuResumeRecordClick(*this);
}

void TFrmMain::MnuStopRecordClick() {
  if (Controller) Controller->MnuStopRecordClick(*this);
}

void TFrmMain::MnuOptionsClick() {
  // An iconified window is not mapped, and the toolkit only activates a mapped one: it has to be
  // restored first, or "Options..." would do nothing at all.
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TFrmMain::MnuRecentClick() {
  auto* window = findChild<TRecentWindow*>("RecentWindow", Qt::FindDirectChildrenOnly);
  if (!window) window = new TRecentWindow(RecentListFile(), this);
  window->setWindowFlag(Qt::Window);
  window->Refresh();
  window->show();
  window->raise();
  window->activateWindow();
}

void TFrmMain::MnuExitClick() {
  ExitRequested = true;
  close();
}

void TFrmMain::QueryEndSession() { close(); }

namespace {

// Asks the window manager to leave the window out of the taskbar. Set on the unmapped window: the
// toolkit merges its own states into what is there when it maps the window, and a window manager
// drops the whole property each time the window is withdrawn, so this is done at every show.
void SkipTaskbar(QWidget& window) {
  auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* dpy = x11 ? x11->display() : nullptr;
  if (!dpy) return;
  const ::Window id = static_cast<::Window>(window.winId());
  const Atom state = XInternAtom(dpy, "_NET_WM_STATE", False);
  const Atom skip = XInternAtom(dpy, "_NET_WM_STATE_SKIP_TASKBAR", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool present = false;
  if (XGetWindowProperty(dpy, id, state, 0, 1024, False, XA_ATOM, &type, &format, &count, &after, &data) == Success &&
      data) {
    if (type == XA_ATOM && format == 32) {
      const auto* atoms = reinterpret_cast<const unsigned long*>(data);
      for (unsigned long i = 0; i < count; ++i) present = present || atoms[i] == skip;
    }
    XFree(data);
  }
  if (!present)
    XChangeProperty(dpy, id, state, XA_ATOM, 32, PropModeAppend, reinterpret_cast<const unsigned char*>(&skip), 1);
  XFlush(dpy);
}

}  // namespace

void TFrmMain::showEvent(QShowEvent* event) {
  // The tool window type already keeps most taskbars away; the state says it to all of them.
  SkipTaskbar(*this);
  QDialog::showEvent(event);
  KeepFrameOnScreen();
}

void TFrmMain::closeEvent(QCloseEvent* event) {
  if (!ExitRequested) {
    event->ignore();
    BtnCancelClick();
    return;
  }
  event->accept();
  FormClose();
  QCoreApplication::quit();
}

void TFrmMain::FormClose() {
  if (FClosed) return;
  FClosed = true;
  // The recording's file must be finished before anything it reports to goes away.
  if (Controller) Controller->Shutdown(*this);
  ReleaseHotkeys();
  Shortcuts.reset();
  TrayIcon->hide();
}

void TFrmMain::BtnHelpClick() { ShowHelp(this); }

void TFrmMain::BtnAboutClick() {
  TFrmAboutQuorvane about(this);
  about.exec();
}

}  // namespace qv
