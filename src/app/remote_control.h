// The running program's remote control: `quorvane --start` and its kin ask the instance that runs
// to do what its tray menu's items do. It listens on the session bus (the name below) and, for
// desktops without one, on the single-instance lock's socket; a caller asks the bus first. This is
// what a Wayland user binds to keys (no program may grab them there) and what scripts use.
#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

class QLocalServer;
class QWidget;

namespace qv {

class TFFRecordingController;
class TFrmMain;

inline constexpr char kRemoteService[] = "io.github.quorvane.Quorvane";
inline constexpr char kRemotePath[] = "/io/github/quorvane/Quorvane";
inline constexpr char kRemoteInterface[] = "io.github.quorvane.Quorvane";
// The bus error of a command the state does not allow; its message says why.
inline constexpr char kRemoteRefused[] = "io.github.quorvane.Quorvane.Error.Refused";

enum class TRemoteCommand { Start, Stop, Pause, Resume, Toggle, Show, Status, Recent };

struct TRemoteAnswer {
  enum TKind { Done, Refused, NotReached } Kind = NotReached;
  std::string Text;  // a sentence (or the status's lines); why, when not done
};

// The command an argument names ("--start", ...); false for any other.
bool RemoteCommandOf(const char* argument, TRemoteCommand& command);
// The command's method on the bus and word on the socket ("Start", ...).
const char* RemoteCommandName(TRemoteCommand command);

// Asks the running instance, the session bus first, then the socket; NotReached when neither has one.
TRemoteAnswer AskRunningInstance(TRemoteCommand command);
// `quorvane --start` and its kin: the answer on stdout, or why not on stderr. 0 done, 1 not.
int RunRemoteCommand(int argc, char** argv, TRemoteCommand command);

// Threads: main thread only. A command runs as the menu item it stands for runs, so a start may
// wait in an event loop of its own (picker, countdown) while other commands are answered.
class TRemoteControl : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "io.github.quorvane.Quorvane")
 public:
  // `form` and `controller` outlive this; `ownWindow` gives the control window when there is one.
  TRemoteControl(TFrmMain& form, TFFRecordingController& controller, std::function<QWidget*()> ownWindow);
  ~TRemoteControl() override;

  // Takes commands on the session bus and on the lock's socket. Only the holder of the lock
  // may call it; a channel that cannot be offered is said on stderr, the other one stays.
  void Listen();
  TRemoteAnswer Run(TRemoteCommand command);

  // The bus's methods: each answers with a sentence, or the error kRemoteRefused.
 public slots:
  Q_SCRIPTABLE QString Start() { return Answer(TRemoteCommand::Start); }
  Q_SCRIPTABLE QString Stop() { return Answer(TRemoteCommand::Stop); }
  Q_SCRIPTABLE QString Pause() { return Answer(TRemoteCommand::Pause); }
  Q_SCRIPTABLE QString Resume() { return Answer(TRemoteCommand::Resume); }
  Q_SCRIPTABLE QString Toggle() { return Answer(TRemoteCommand::Toggle); }
  Q_SCRIPTABLE QString Show() { return Answer(TRemoteCommand::Show); }
  Q_SCRIPTABLE QString Status() { return Answer(TRemoteCommand::Status); }
  Q_SCRIPTABLE QString Recent() { return Answer(TRemoteCommand::Recent); }

 private:
  QString Answer(TRemoteCommand command);
  void ListenOnBus();
  void ListenOnSocket(const std::string& path);
  void TakeSocketCommand();
  TRemoteAnswer StartRecording();
  TRemoteAnswer StopRecording();
  TRemoteAnswer ShowYourself();
  std::string StatusText() const;

  TFrmMain& Form;
  TFFRecordingController& Controller;
  std::function<QWidget*()> OwnWindow;
  std::unique_ptr<QLocalServer> Server;
  bool OnBus = false;
};

}  // namespace qv
