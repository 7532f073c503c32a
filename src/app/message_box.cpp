#include "app/message_box.h"

#include <QMessageBox>
#include <cstdio>

namespace qv {

namespace {
TMessageBoxHook& Hook() {
  static TMessageBoxHook hook;
  return hook;
}
}  // namespace

TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook) {
  TMessageBoxHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

void ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, TMessageIcon icon) {
  std::fprintf(stderr, "quorvane: [%s] %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
  if (Hook()) {
    // A copy: the hook may replace itself.
    TMessageBoxHook hook = Hook();
    hook({text, caption, icon});
    return;
  }
  QMessageBox::Icon qicon = icon == TMessageIcon::Error     ? QMessageBox::Critical
                            : icon == TMessageIcon::Warning ? QMessageBox::Warning
                                                            : QMessageBox::Information;
  QMessageBox box(qicon, QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace qv
