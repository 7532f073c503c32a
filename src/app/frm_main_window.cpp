// The options window as a window: a size that fits the screen it comes up on (remembered from one
// showing to the next), and Escape that asks before it drops the user's edits.
#include <QCursor>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QPointer>
#include <QTimer>
#include <algorithm>

#include "app/frm_main.h"
#include "app/ini_file.h"
#include "app/message_box.h"
#include "app/shell_log.h"
#include "app/unit_general.h"

namespace qv {

namespace {

// The window's own section of the settings file: how it was last left, not a setting.
constexpr const char* kWindow = "Window";
constexpr const char* kWidth = "OptionsWidth";
constexpr const char* kHeight = "OptionsHeight";
constexpr QSize kMinimumSize{360, 240};
constexpr int kUsualWidth = 700;
constexpr int kLargestSide = 16384;
// A frame's title bar and borders before the window manager has framed the window once.
constexpr QMargins kUsualFrame{4, 32, 4, 4};

const QScreen* ScreenUnderPointer() {
  const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
  return screen ? screen : QGuiApplication::primaryScreen();
}

}  // namespace

QSize TFrmMain::NaturalSize() const {
  const QWidget* page = ScrPage->widget();
  const int width = std::max(kUsualWidth, page->sizeHint().width());
  const int pageHeight = page->hasHeightForWidth() ? page->heightForWidth(width) : page->sizeHint().height();
  return {width, pageHeight + layout()->itemAt(1)->sizeHint().height()};
}

void TFrmMain::setVisible(bool visible) {
  if (visible && !isVisible()) FitToScreen();
  if (!visible && isVisible()) RememberSize();
  QDialog::setVisible(visible);
  // The meters capture their sources only while the window is open; hidden, they stop at the
  // next tick.
  if (visible) MeterTimer->start();
}

void TFrmMain::FitToScreen() {
  setMinimumSize(kMinimumSize);
  const TIniFile ini(GetOptionsFileName());
  QSize wanted(ini.ReadInteger(kWindow, kWidth, 0), ini.ReadInteger(kWindow, kHeight, 0));
  if (wanted.width() < kMinimumSize.width() || wanted.height() < kMinimumSize.height() ||
      wanted.width() > kLargestSide || wanted.height() > kLargestSide)
    wanted = NaturalSize();
  if (const QScreen* screen = ScreenUnderPointer()) {
    const QRect frame = frameGeometry(), inner = geometry();
    // Once framed, the frame's own measures; before, the usual ones.
    const QMargins margins = frame != inner && frame.contains(inner)
                                 ? QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
                                            frame.right() - inner.right(), frame.bottom() - inner.bottom())
                                 : kUsualFrame;
    const QSize room = screen->availableGeometry().marginsRemoved(margins).size();
    wanted = wanted.boundedTo(room).expandedTo(kMinimumSize.boundedTo(room));
  }
  resize(wanted);
  SizeShown = wanted;
}

void TFrmMain::KeepFrameOnScreen() {
  // The window manager frames the window after it is mapped; whatever it made of the size and the
  // place, the frame is brought back onto the screen (smaller if need be).
  QTimer::singleShot(300, this, [this] {
    const QScreen* screen = this->screen();
    if (!isVisible() || !screen) return;
    const QRect room = screen->availableGeometry();
    const QRect frame = frameGeometry();
    if (room.contains(frame)) return;
    const QSize extra = frame.size() - size();
    const QSize inner = size().boundedTo(room.size() - extra).expandedTo(minimumSize());
    resize(inner);
    const QSize outer = inner + extra;
    move(std::clamp(frame.x(), room.left(), std::max(room.left(), room.right() + 1 - outer.width())),
         std::clamp(frame.y(), room.top(), std::max(room.top(), room.bottom() + 1 - outer.height())));
    SizeShown = inner;
  });
}

void TFrmMain::RememberSize() {
  if (size() == SizeShown) return;  // the window kept the size it came with: nothing to remember
  SizeShown = size();
  TIniFile ini(GetOptionsFileName());
  ini.WriteInteger(kWindow, kWidth, width());
  ini.WriteInteger(kWindow, kHeight, height());
  // Only the window's size is lost.
  if (!ini.UpdateFile()) ShellLog(llWarning, "[options window] " + ini.LastError());
}

void TFrmMain::reject() {
  // Escape is the close button of a dialog: it drops the edits, but a key pressed by mistake (to
  // close a list, say) must not throw away a page of choices unasked.
  if (Edited()) {
    // Asked without waiting: a hotkey may start a recording meanwhile, which reloads and hides the
    // window, after which the answer has nothing left to act on.
    AskMessageBox(this, "The options were changed. Save the changes?", "Quorvane",
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save,
                  [window = QPointer<TFrmMain>(this)](QMessageBox::StandardButton answer) {
                    if (!window || !window->isVisible()) return;
                    if (answer == QMessageBox::Save) window->BtnOKClick();
                    if (answer == QMessageBox::Discard) window->BtnCancelClick();
                  });
    return;
  }
  BtnCancelClick();
}

}  // namespace qv
