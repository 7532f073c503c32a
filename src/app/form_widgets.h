// The two kinds of entry box the options window needs beyond the stock widgets.
#pragma once

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

namespace qv {

// Shows the key combination pressed in it (rules in hotkey_text.h); typed text never gets in.
class THotkeyEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit THotkeyEdit(QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
};

// A whole-number box with up/down arrows whose text, not a number, is the value: it may be empty
// or "0" while the user edits, which the window checks when the box is left and at OK.
class TSpinEdit : public QAbstractSpinBox {
  Q_OBJECT
 public:
  explicit TSpinEdit(QWidget* parent = nullptr);
  QString Text() const;
  void SetText(const QString& text);
  void stepBy(int steps) override;
  QValidator::State validate(QString& input, int& pos) const override;

 signals:
  void TextChanged(const QString& text);
  // The box lost the focus to another control of its window (not to another window).
  void Exited();

 protected:
  StepEnabled stepEnabled() const override;
  void focusOutEvent(QFocusEvent* event) override;
};

// A check box or radio button whose caption wraps onto further lines: some captions are longer
// than the window is wide with the desktop's font.
template <class Base>
class TWrapButton : public Base {
 public:
  explicit TWrapButton(const QString& text, QWidget* parent = nullptr) : Base(text, parent) {
    QSizePolicy policy = this->sizePolicy();
    policy.setHeightForWidth(true);
    this->setSizePolicy(policy);
  }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  // Not every layout asks for the height at the width it grants; the minimum makes sure.
  void resizeEvent(QResizeEvent* event) override;
  bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }

 private:
  int IndicatorSpace() const;
};

using TWrapCheckBox = TWrapButton<QCheckBox>;
using TWrapRadioButton = TWrapButton<QRadioButton>;

// The desktop-neutral key code of a key event (see hotkey_text.h); 0 for keys hotkeys do not use.
int NeutralKeyOf(const QKeyEvent* event);

}  // namespace qv
