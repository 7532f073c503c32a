#include "app/message_box.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSystemTrayIcon>
#include <cstdio>

namespace qv {

namespace {

TMessageBoxHook& Hook() {
  static TMessageBoxHook hook;
  return hook;
}

// Writes the message to standard error and hands it to the hook; false when no hook took it.
bool Hooked(const TMessageBoxInfo& info) {
  std::fprintf(stderr, "quorvane: [%s%s] %s\n", info.Balloon ? "balloon: " : "", info.Caption.c_str(),
               info.Text.c_str());
  std::fflush(stderr);
  if (!Hook()) return false;
  // A copy: the hook may replace itself.
  TMessageBoxHook hook = Hook();
  hook(info);
  return true;
}

// A box comes up where the user looks: in the middle of the screen that holds the pointer, not at
// the corner of the hidden window it belongs to. Placed once its final size is known, before it is
// mapped.
class TCentredMessageBox : public QMessageBox {
 public:
  TCentredMessageBox(TMessageIcon icon, const std::string& caption, const std::string& text, QWidget* parent)
      : QMessageBox(IconOf(icon), QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                    parent) {}

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }

 private:
  static QMessageBox::Icon IconOf(TMessageIcon icon) {
    return icon == TMessageIcon::Error     ? QMessageBox::Critical
           : icon == TMessageIcon::Warning ? QMessageBox::Warning
                                           : QMessageBox::Information;
  }
};

}  // namespace

TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook) {
  TMessageBoxHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

void ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, TMessageIcon icon) {
  if (Hooked({text, caption, icon, false})) return;
  TCentredMessageBox box(icon, caption, text, parent);
  box.exec();
}

void ShowBalloon(QSystemTrayIcon* tray, QWidget* parent, const std::string& text, const std::string& caption,
                 TMessageIcon icon) {
  if (Hooked({text, caption, icon, true})) return;
  const bool trayShows = tray && tray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable() &&
                         QSystemTrayIcon::supportsMessages();
  if (!trayShows) {
    // Without a tray the news comes in a box that waits for nobody: a recording goes on meanwhile.
    auto* box = new TCentredMessageBox(icon, caption, text, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    return;
  }
  const QSystemTrayIcon::MessageIcon qicon = icon == TMessageIcon::Error     ? QSystemTrayIcon::Critical
                                             : icon == TMessageIcon::Warning ? QSystemTrayIcon::Warning
                                                                             : QSystemTrayIcon::Information;
  // Long enough to read a file's path; a host may cut it short.
  tray->showMessage(QString::fromStdString(caption), QString::fromStdString(text), qicon, 15000);
}

}  // namespace qv
