#include "app/app_main.h"

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
#include "media/signal_pipe.h"
#include "selection/unit_frm_select_region.h"

namespace qv {

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
