#include "app/message_box.h"

#include <QMessageBox>
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

}  // namespace

TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook) {
  TMessageBoxHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

void ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, TMessageIcon icon) {
  if (Hooked({text, caption, icon, false})) return;
  QMessageBox::Icon qicon = icon == TMessageIcon::Error     ? QMessageBox::Critical
                            : icon == TMessageIcon::Warning ? QMessageBox::Warning
                                                            : QMessageBox::Information;
  QMessageBox box(qicon, QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok, parent);
  box.exec();
}

void ShowBalloon(QSystemTrayIcon* tray, QWidget* parent, const std::string& text, const std::string& caption,
                 TMessageIcon icon) {
  if (!tray || !tray->isVisible() || !QSystemTrayIcon::supportsMessages()) {
    ShowMessageBox(parent, text, caption, icon);
    return;
  }
  if (Hooked({text, caption, icon, true})) return;
  const QSystemTrayIcon::MessageIcon qicon = icon == TMessageIcon::Error     ? QSystemTrayIcon::Critical
                                             : icon == TMessageIcon::Warning ? QSystemTrayIcon::Warning
                                                                             : QSystemTrayIcon::Information;
  // Long enough to read a file's path; a host may cut it short.
  tray->showMessage(QString::fromStdString(caption), QString::fromStdString(text), qicon, 15000);
}

}  // namespace qv
