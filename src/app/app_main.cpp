#include "app/app_main.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <filesystem>

#include "app/frm_main.h"
#include "app/message_box.h"
#include "app/recording_controller.h"
#include "app/single_instance.h"
#include "app/unit_general.h"
#include "media/main_thread.h"
#include "selection/unit_frm_select_region.h"

namespace qv {

namespace {

int gSignalPipe[2] = {-1, -1};

void OnTerminationSignal(int signal) {
  unsigned char byte = static_cast<unsigned char>(signal);
  ssize_t ignored = write(gSignalPipe[1], &byte, 1);
  (void)ignored;
}

// A desktop session that ends by signalling its clients, or a user's kill, must still finish a
// running recording: the signal is turned into "Exit" on the main thread.
void RouteTerminationSignals(TFrmMain& form) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &form);
  QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
    unsigned char byte;
    if (read(gSignalPipe[0], &byte, 1) == 1 && !form.Closed()) form.MnuExitClick();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace

int RunQuorvane(int argc, char** argv) {
  MarkMainThread();
  // The toolkit first: every refusal below is told in a message box.
  QApplication app(argc, argv);
  TSingleInstance instance;
  if (!instance.Acquire("ZMX_Quorvane")) {
    if (instance.AlreadyRunning())
      ShowMessageBox(nullptr, "Quorvane already runs.", "Quorvane", TMessageIcon::Information);
    else
      ShowMessageBox(nullptr, instance.LastError(), "Quorvane", TMessageIcon::Error);
    return 1;
  }
  QApplication::setApplicationName("Quorvane");
  // Message boxes come and go while the options window is hidden; none of that ends the program.
  QApplication::setQuitOnLastWindowClosed(false);

  std::error_code ec;
  std::string options = GetOptionsFileName();
  if (options.empty() || !std::filesystem::is_regular_file(options, ec)) {
    ShowMessageBox(nullptr, "The setting file of Quorvane is missing, please re-install it.", "Quorvane",
                   TMessageIcon::Error);
    return 1;
  }

  // Workers hand calls to the main thread; the event loop runs them as soon as one is queued.
  SetMainThreadWaker([&app] { QMetaObject::invokeMethod(&app, [] { RunMainThreadCalls(); }, Qt::QueuedConnection); });

  TFrmMain form;
  if (!form.Initialize()) {
    SetMainThreadWaker(nullptr);
    return 1;
  }
  // Hidden until a region is asked for.
  TFrmSelectRegion picker;
  // Declared after the windows, so it goes first: the recording is over before they are destroyed.
  TFFRecordingController controller(form, picker);
  form.SetController(&controller);
  RouteTerminationSignals(form);
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
