#include "app/form_widgets.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <type_traits>

#include "app/hotkey_grabber.h"
#include "app/hotkey_text.h"

namespace qv {

namespace {
constexpr int kMaxDigits = 5;
}

int NeutralKeyOf(const QKeyEvent* event) {
  // A real key press carries its X keycode; reading the keyboard map's unshifted level keeps
  // Shift+1 reading as '1'. Synthesised events have no keycode and fall back to the toolkit's key.
  if (event->nativeScanCode() != 0) return KeyFromKeycode(event->nativeScanCode());
  int key = event->key();
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return '0' + (key - Qt::Key_0);
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return 'A' + (key - Qt::Key_A);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return kVkF1 + (key - Qt::Key_F1);
  if (key == Qt::Key_Control) return kVkControl;
  if (key == Qt::Key_Shift) return kVkShift;
  if (key == Qt::Key_Alt) return kVkMenu;
  if (key == Qt::Key_Meta || key == Qt::Key_Super_L || key == Qt::Key_Super_R) return kVkSuper;
  if (key == Qt::Key_Print) return kVkPrint;
  if (key == Qt::Key_Pause) return kVkPause;
  if (key == Qt::Key_ScrollLock) return kVkScrollLock;
  return 0;
}

THotkeyEdit::THotkeyEdit(QWidget* parent) : QLineEdit(parent) {
  setContextMenuPolicy(Qt::NoContextMenu);
  setAttribute(Qt::WA_InputMethodEnabled, false);
}

void THotkeyEdit::keyPressEvent(QKeyEvent* event) {
  int key = NeutralKeyOf(event);
  Qt::KeyboardModifiers mods = event->modifiers();
  THeldModifiers held;
  held.Ctrl = (mods & Qt::ControlModifier) || key == kVkControl;
  held.Shift = (mods & Qt::ShiftModifier) || key == kVkShift;
  held.Alt = (mods & Qt::AltModifier) || key == kVkMenu;
  held.Super = (mods & Qt::MetaModifier) || key == kVkSuper;
  setText(QString::fromStdString(HotkeyTextAfterKeyDown(key, held)));
  event->accept();
}

void THotkeyEdit::keyReleaseEvent(QKeyEvent* event) {
  event->accept();
  if (event->isAutoRepeat()) return;
  setText(QString::fromStdString(HotkeyTextAfterKeyUp(text().toStdString(), NeutralKeyOf(event))));
}

TSpinEdit::TSpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
  lineEdit()->setMaxLength(kMaxDigits);
  connect(lineEdit(), &QLineEdit::textChanged, this, &TSpinEdit::TextChanged);
}

QString TSpinEdit::Text() const { return lineEdit()->text(); }

void TSpinEdit::SetText(const QString& text) { lineEdit()->setText(text); }

void TSpinEdit::stepBy(int steps) {
  long value = Text().toLong() + steps;
  value = std::clamp(value, 0L, 99999L);
  SetText(QString::number(value));
  selectAll();
}

QValidator::State TSpinEdit::validate(QString& input, int&) const {
  if (input.size() > kMaxDigits) return QValidator::Invalid;
  for (QChar c : input)
    if (!c.isDigit() || c.unicode() > '9') return QValidator::Invalid;
  return QValidator::Acceptable;
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const {
  return isEnabled() ? (StepUpEnabled | StepDownEnabled) : StepNone;
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
  QAbstractSpinBox::focusOutEvent(event);
  if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason) emit Exited();
}

template <class Base>
int TWrapButton<Base>::IndicatorSpace() const {
  constexpr bool radio = std::is_same_v<Base, QRadioButton>;
  QStyle* style = this->style();
  return style->pixelMetric(radio ? QStyle::PM_ExclusiveIndicatorWidth : QStyle::PM_IndicatorWidth, nullptr, this) +
         style->pixelMetric(radio ? QStyle::PM_RadioButtonLabelSpacing : QStyle::PM_CheckBoxLabelSpacing, nullptr,
                            this);
}

template <class Base>
int TWrapButton<Base>::heightForWidth(int width) const {
  QRect bounds = this->fontMetrics().boundingRect(QRect(0, 0, std::max(1, width - IndicatorSpace()), 100000),
                                                  Qt::TextWordWrap | Qt::AlignLeft, this->text());
  return std::max(Base::sizeHint().height(), bounds.height() + 4);
}

template <class Base>
QSize TWrapButton<Base>::sizeHint() const {
  // As wide as the caption on one line, but never wider than a third of a screen: the layout
  // gives it what there is and the caption wraps.
  int width = std::min(Base::sizeHint().width(), 420);
  return {width, heightForWidth(width)};
}

template <class Base>
QSize TWrapButton<Base>::minimumSizeHint() const {
  int width = std::min(Base::sizeHint().width(), IndicatorSpace() + 120);
  return {width, heightForWidth(width)};
}

template <class Base>
void TWrapButton<Base>::paintEvent(QPaintEvent*) {
  constexpr bool radio = std::is_same_v<Base, QRadioButton>;
  QStylePainter painter(this);
  QStyleOptionButton option;
  this->initStyleOption(&option);
  option.text.clear();
  painter.drawControl(radio ? QStyle::CE_RadioButton : QStyle::CE_CheckBox, option);
  QRect textRect = this->rect().adjusted(IndicatorSpace(), 0, 0, 0);
  painter.drawItemText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, this->palette(),
                       this->isEnabled(), this->text(), QPalette::WindowText);
}

template <class Base>
void TWrapButton<Base>::resizeEvent(QResizeEvent* event) {
  Base::resizeEvent(event);
  int height = heightForWidth(event->size().width());
  if (this->minimumHeight() != height) this->setMinimumHeight(height);
}

template class TWrapButton<QCheckBox>;
template class TWrapButton<QRadioButton>;

}  // namespace qv
