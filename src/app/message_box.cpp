#include "app/message_box.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include "app/shell_log.h"

namespace qv {

namespace {

TMessageBoxHook& Hook() {
  static TMessageBoxHook hook;
  return hook;
}

// A box comes up where the user looks: in the middle of the screen that holds the pointer, not at
// the corner of the hidden window it belongs to. Placed once its final size is known, before it is
// mapped.
class TCentredMessageBox : public QMessageBox {
 public:
  TCentredMessageBox(TMessageIcon icon, const std::string& caption, const std::string& text, QWidget* parent,
                     QMessageBox::StandardButtons buttons = QMessageBox::Ok)
      : QMessageBox(IconOf(icon), QString::fromStdString(caption), QString::fromStdString(text), buttons, parent) {}

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

TLogLevel LevelOf(TMessageIcon icon) {
  return icon == TMessageIcon::Error ? llError : icon == TMessageIcon::Warning ? llWarning : llInfo;
}

}  // namespace

bool LogAndHook(const TMessageBoxInfo& info) {
  ShellLog(LevelOf(info.Icon), "[" + std::string(info.Balloon ? "balloon: " : "") + info.Caption + "] " + info.Text);
  if (!Hook()) return false;
  // A copy: the hook may replace itself.
  TMessageBoxHook hook = Hook();
  hook(info);
  return true;
}

TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook) {
  TMessageBoxHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

void ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, TMessageIcon icon) {
  if (LogAndHook({text, caption, icon, false})) return;
  TCentredMessageBox box(icon, caption, text, parent);
  box.exec();
}

void AskMessageBox(QWidget* parent, const std::string& text, const std::string& caption,
                   QMessageBox::StandardButtons buttons, QMessageBox::StandardButton preferred,
                   std::function<void(QMessageBox::StandardButton)> answered) {
  ShellLog(llInfo, "[" + caption + "] " + text);
  auto* box = new TCentredMessageBox(TMessageIcon::Warning, caption, text, parent, buttons);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setIcon(QMessageBox::Question);
  box->setDefaultButton(preferred);
  QObject::connect(box, &QMessageBox::finished, box, [box, answered = std::move(answered)](int) {
    if (answered) answered(box->standardButton(box->clickedButton()));
  });
  box->open();
}

}  // namespace qv
