#include "app/remote_control.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <cstdio>
#include <cstring>

#include <dbus/dbus.h>

#include "app/frm_main.h"
#include "app/recording_controller.h"
#include "app/shell_log.h"
#include "app/single_instance.h"
#include "recording/recording.h"

namespace qv {

namespace {

struct TCommandName {
  TRemoteCommand Command;
  const char* Argument;
  const char* Name;
};
constexpr TCommandName kCommands[] = {
    {TRemoteCommand::Start, "--start", "Start"},    {TRemoteCommand::Stop, "--stop", "Stop"},
    {TRemoteCommand::Pause, "--pause", "Pause"},    {TRemoteCommand::Resume, "--resume", "Resume"},
    {TRemoteCommand::Toggle, "--toggle", "Toggle"}, {TRemoteCommand::Show, "--show", "Show"},
    {TRemoteCommand::Status, "--status", "Status"}, {TRemoteCommand::Recent, "--recent", "Recent"},
};

constexpr char kNothingRecorded[] = "Nothing is being recorded.";
constexpr char kNotRunning[] = "Quorvane is not running.";
// A command word on the socket is short; anything longer is not one of ours.
constexpr qint64 kLongestWord = 64;

std::string ChannelName() { return TSingleInstance::ChannelName(kInstanceLock); }

// A start waits for the user as long as the picker is open, and a stop for the file's end: the
// caller waits for the answer, however long. An instance that dies meanwhile ends the wait.
// The question goes through libdbus, not the toolkit: Qt 6.4's bus thread may still be handing
// out the bus's greeting while a program this short-lived ends, after the types it needs are gone.
TRemoteAnswer AskOverBus(TRemoteCommand command) {
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
  if (!bus) {
    dbus_error_free(&error);
    return {};
  }
  dbus_connection_set_exit_on_disconnect(bus, false);
  DBusMessage* call =
      dbus_message_new_method_call(kRemoteService, kRemotePath, kRemoteInterface, RemoteCommandName(command));
  DBusMessage* reply = call ? dbus_connection_send_with_reply_and_block(bus, call, DBUS_TIMEOUT_INFINITE, &error)
                            : nullptr;
  TRemoteAnswer answer;
  const char* text = nullptr;
  if (reply && dbus_message_get_args(reply, &error, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID))
    answer = {TRemoteAnswer::Done, text};
  else if (dbus_error_has_name(&error, kRemoteRefused))
    answer = {TRemoteAnswer::Refused, error.message};
  // No owner of the name: the program may run without the bus, and answer on its socket.
  else if (!dbus_error_has_name(&error, DBUS_ERROR_SERVICE_UNKNOWN) &&
           !dbus_error_has_name(&error, DBUS_ERROR_NAME_HAS_NO_OWNER))
    answer = {TRemoteAnswer::Refused,
              std::string("Quorvane did not answer: ") + (error.message ? error.message : "no reply")};
  dbus_error_free(&error);
  if (reply) dbus_message_unref(reply);
  if (call) dbus_message_unref(call);
  dbus_connection_close(bus);
  dbus_connection_unref(bus);
  return answer;
}

// The socket's answer is a digit (0 done, 1 refused), a blank and the text, up to the close.
TRemoteAnswer AskOverSocket(TRemoteCommand command) {
  constexpr int kConnectMs = 2000;
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(ChannelName()));
  if (!socket.waitForConnected(kConnectMs)) return {};
  socket.write(QByteArray(RemoteCommandName(command)) + '\n');
  socket.waitForBytesWritten(kConnectMs);
  QByteArray reply;
  while (socket.waitForReadyRead(-1)) reply += socket.readAll();
  reply += socket.readAll();
  if (reply.size() < 2 || (reply[0] != '0' && reply[0] != '1'))
    return {TRemoteAnswer::Refused, "Quorvane ended before it answered."};
  return {reply[0] == '0' ? TRemoteAnswer::Done : TRemoteAnswer::Refused, reply.mid(2).toStdString()};
}

}  // namespace

bool RemoteCommandOf(const char* argument, TRemoteCommand& command) {
  for (const TCommandName& each : kCommands)
    if (std::strcmp(argument, each.Argument) == 0) {
      command = each.Command;
      return true;
    }
  return false;
}

const char* RemoteCommandName(TRemoteCommand command) {
  for (const TCommandName& each : kCommands)
    if (each.Command == command) return each.Name;
  return "";
}

TRemoteAnswer AskRunningInstance(TRemoteCommand command) {
  TRemoteAnswer answer = AskOverBus(command);
  if (answer.Kind == TRemoteAnswer::NotReached) answer = AskOverSocket(command);
  return answer;
}

int RunRemoteCommand(int argc, char** argv, TRemoteCommand command) {
  // The socket wants an application object; no desktop is needed to ask.
  QCoreApplication app(argc, argv);
  const TRemoteAnswer answer = AskRunningInstance(command);
  if (answer.Kind == TRemoteAnswer::Done) {
    std::printf("%s\n", answer.Text.c_str());
    return 0;
  }
  std::fprintf(stderr, "%s\n", answer.Kind == TRemoteAnswer::NotReached ? kNotRunning : answer.Text.c_str());
  return 1;
}

TRemoteControl::TRemoteControl(TFrmMain& form, TFFRecordingController& controller,
                               std::function<QWidget*()> ownWindow)
    : Form(form), Controller(controller), OwnWindow(std::move(ownWindow)) {}

TRemoteControl::~TRemoteControl() {
  if (OnBus) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(kRemoteService);
    bus.unregisterObject(kRemotePath);
  }
}

void TRemoteControl::Listen() {
  ListenOnBus();
  ListenOnSocket(ChannelName());
}

void TRemoteControl::ListenOnBus() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;  // a desktop without a bus: the socket serves
  if (!bus.registerObject(kRemotePath, this, QDBusConnection::ExportScriptableSlots)) {
    ShellLog(llWarning, std::string("[remote] cannot offer ") + kRemotePath + " on the session bus");
    return;
  }
  // An instance with another runtime folder on the same bus (a second login's, a test's) keeps
  // the name; this one is still reached through its socket.
  if (!bus.registerService(kRemoteService)) {
    ShellLog(llWarning, std::string("[remote] the name ") + kRemoteService + " is taken on the session bus: " +
                            bus.lastError().message().toStdString());
    bus.unregisterObject(kRemotePath);
    return;
  }
  OnBus = true;
}

void TRemoteControl::ListenOnSocket(const std::string& path) {
  const QString name = QString::fromStdString(path);
  // We hold the lock, so a socket there was left by an instance that died.
  QLocalServer::removeServer(name);
  Server = std::make_unique<QLocalServer>();
  Server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!Server->listen(name)) {
    ShellLog(llWarning, "[remote] cannot take commands at " + path + ": " + Server->errorString().toStdString());
    Server.reset();
    return;
  }
  connect(Server.get(), &QLocalServer::newConnection, this, [this] { TakeSocketCommand(); });
}

void TRemoteControl::TakeSocketCommand() {
  while (QLocalSocket* socket = Server->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kLongestWord) socket->abort();
        return;
      }
      const QByteArray word = socket->readLine(kLongestWord).trimmed();
      disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
      // The command may run event loops of its own, in which the caller can go away.
      QPointer<QLocalSocket> caller(socket);
      TRemoteAnswer answer{TRemoteAnswer::Refused, "Unknown command \"" + word.toStdString() + "\"."};
      for (const TCommandName& each : kCommands)
        if (word == each.Name) answer = Run(each.Command);
      if (!caller) return;
      caller->write((answer.Kind == TRemoteAnswer::Done ? "0 " : "1 ") + QByteArray::fromStdString(answer.Text));
      caller->disconnectFromServer();
    });
  }
}

QString TRemoteControl::Answer(TRemoteCommand command) {
  // The command may wait for the user (a region to pick) while other calls are answered; the
  // reply to this one is sent by hand once it is done.
  const QDBusMessage call = message();
  QDBusConnection bus = connection();
  setDelayedReply(true);
  const TRemoteAnswer answer = Run(command);
  const QString text = QString::fromStdString(answer.Text);
  bus.send(answer.Kind == TRemoteAnswer::Done ? call.createReply(text) : call.createErrorReply(kRemoteRefused, text));
  return {};
}

TRemoteAnswer TRemoteControl::Run(TRemoteCommand command) {
  if (Form.Closed()) return {TRemoteAnswer::Refused, "Quorvane is ending."};
  switch (command) {
    case TRemoteCommand::Start:
      return StartRecording();
    case TRemoteCommand::Stop:
      return StopRecording();
    case TRemoteCommand::Toggle:
      return Form.MnuStopRecord->isEnabled() ? StopRecording() : StartRecording();
    case TRemoteCommand::Pause:
      if (!Form.MnuPauseRecord->isEnabled())
        return {TRemoteAnswer::Refused,
                Form.MnuResumeRecord->isEnabled() ? "The recording is paused already." : kNothingRecorded};
      Form.MnuPauseRecordClick();
      return {TRemoteAnswer::Done, "Paused."};
    case TRemoteCommand::Resume:
      if (!Form.MnuResumeRecord->isEnabled())
        return {TRemoteAnswer::Refused,
                Form.MnuPauseRecord->isEnabled() ? "The recording is not paused." : kNothingRecorded};
      Form.MnuResumeRecordClick();
      return {TRemoteAnswer::Done, "Resumed."};
    case TRemoteCommand::Show:
      return ShowYourself();
    case TRemoteCommand::Status:
      return {TRemoteAnswer::Done, StatusText()};
    case TRemoteCommand::Recent:
      Form.MnuRecentClick();
      return {TRemoteAnswer::Done, "The recent recordings are shown."};
  }
  return {TRemoteAnswer::Refused, "Unknown command."};
}

TRemoteAnswer TRemoteControl::StartRecording() {
  if (Controller.Selecting()) return {TRemoteAnswer::Refused, "A recording is being started: its area is being chosen."};
  if (!Form.MnuStartRecord->isEnabled()) {
    if (Controller.StartAfterStop(Form))
      return {TRemoteAnswer::Done, "The recording before is being finished; the new one starts after it."};
    return {TRemoteAnswer::Refused, "A recording is under way already."};
  }
  // As the menu's item: the settings say what is recorded, and the picker may ask for the area.
  Form.MnuStartRecordClick();
  if (Controller.Recording().State() == TRecordingState::Idle)
    return {TRemoteAnswer::Refused, "The recording did not start."};
  return {TRemoteAnswer::Done, "Recording to " + Form.OutputFileName + "."};
}

TRemoteAnswer TRemoteControl::StopRecording() {
  if (!Form.MnuStopRecord->isEnabled()) return {TRemoteAnswer::Refused, kNothingRecorded};
  // Stop is on while a countdown runs, before anything is recorded.
  const bool countingDown = Controller.Recording().State() == TRecordingState::Idle;
  Form.MnuStopRecordClick();
  if (countingDown) return {TRemoteAnswer::Done, "The countdown was called off; nothing was recorded."};
  return {TRemoteAnswer::Done, "Stopped; the recording is in " + Form.OutputFileName + "."};
}

TRemoteAnswer TRemoteControl::ShowYourself() {
  if (QWidget* window = OwnWindow ? OwnWindow() : nullptr) {
    // A minimised window is not mapped, and only a mapped one can be raised.
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    return {TRemoteAnswer::Done, "Quorvane's window is in front."};
  }
  // The menu is the program's face where it has a tray icon. A host that shows the menu itself
  // (a StatusNotifierItem's) cannot be asked to: the options window comes instead.
  const QRect icon = Form.TrayIcon->geometry();
  if (!Form.TrayIcon->contextMenu() && QSystemTrayIcon::isSystemTrayAvailable() && icon.isValid() &&
      icon.topLeft() != QPoint(0, 0)) {
    Form.PopupMenu->popup(icon.center());
    Form.PopupMenu->activateWindow();
    return {TRemoteAnswer::Done, "Quorvane's menu is open at its tray icon."};
  }
  Form.MnuOptionsClick();
  return {TRemoteAnswer::Done, "Quorvane's options window is in front."};
}

std::string TRemoteControl::StatusText() const {
  if (Controller.Selecting()) return "State: choosing the area";
  const TRecordingProgress progress = Controller.Recording().Progress();
  const char* state = "recording";
  switch (progress.State) {
    case TRecordingState::Idle:
      return Form.MnuStartRecord->isEnabled() ? "State: idle" : "State: counting down";
    case TRecordingState::Paused:
      state = "paused";
      break;
    case TRecordingState::Stopping:
      state = "stopping";
      break;
    case TRecordingState::Recording:
      break;
  }
  return std::string("State: ") + state + "\nElapsed: " + RecordedTimeText(progress.ElapsedUs) +
         "\nSize: " + FileSizeText(progress.FileBytes) + "\nFile: " + Form.OutputFileName;
}

}  // namespace qv
