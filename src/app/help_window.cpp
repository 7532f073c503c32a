#include "app/help_window.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <memory>

#include "app/shell_log.h"
#include "app/unit_general.h"

namespace qv {

namespace {
// An opener that gives up does so at once; one still running is showing the page. A browser that
// fails long after (closed with an error) is not taken for a failure to open.
constexpr qint64 kOpenerGivesUpMs = 10000;
}  // namespace

void ShowOwnHelp(QWidget* parent) {
  if (auto* shown = parent ? parent->findChild<QDialog*>("FrmHelp") : nullptr) {
    shown->show();
    shown->raise();
    shown->activateWindow();
    return;
  }
  auto* window = new QDialog(parent, Qt::Window);
  window->setObjectName("FrmHelp");
  window->setWindowTitle("Quorvane Help");
  window->setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(window);
  auto* page = new QTextBrowser;
  page->setObjectName("TxtHelp");
  page->setOpenExternalLinks(true);
  page->setSource(QUrl("qrc:/quorvane/help.html"));
  layout->addWidget(page);
  QSize size(640, 560);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) size = size.boundedTo(screen->availableGeometry().size() * 0.9);
  window->resize(size);
  window->show();
}

void ShowHelp(QWidget* parent) {
  const QString page = QString::fromStdString(JoinPath(GetProgramFolder(), "help.html"));
  auto* opener = new QProcess(parent);
  auto since = std::make_shared<QElapsedTimer>();
  since->start();
  QObject::connect(opener, &QProcess::finished, opener, [opener, parent, since](int code, QProcess::ExitStatus status) {
    opener->deleteLater();
    if ((status == QProcess::NormalExit && code == 0) || since->elapsed() > kOpenerGivesUpMs) return;
    ShellLog(llInfo, "[help] the desktop could not open the help page (xdg-open: exit " + std::to_string(code) +
                         "); showing it in Quorvane's own window");
    ShowOwnHelp(parent);
  });
  QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, parent](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    opener->deleteLater();
    ShellLog(llInfo, "[help] xdg-open cannot be run; showing the help page in Quorvane's own window");
    ShowOwnHelp(parent);
  });
  opener->start("xdg-open", {QUrl::fromLocalFile(page).toString()});
}

}  // namespace qv
