#include "app/frm_control.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/frm_main.h"

namespace qv {

const char* const TFrmControl::kReason =
    "This desktop has no system tray, so Quorvane shows this window instead of a tray icon. "
    "Closing it only minimises it; \"Exit\" ends Quorvane.";

TFrmControl::TFrmControl(TFrmMain& form) : QWidget(nullptr, Qt::Window), Form(form) {
  setObjectName("FrmControl");
  setWindowTitle("Quorvane");
  setWindowIcon(form.windowIcon());
  auto* root = new QVBoxLayout(this);
  LblReason = new QLabel(QString::fromLatin1(kReason));
  LblReason->setObjectName("LblReason");
  LblReason->setWordWrap(true);
  LblStatus = new QLabel;
  LblStatus->setObjectName("LblStatus");
  QFont bold = LblStatus->font();
  bold.setBold(true);
  LblStatus->setFont(bold);
  root->addWidget(LblReason);
  root->addWidget(LblStatus);

  auto* buttons = new QGridLayout;
  // Alt+letter works each button from the keyboard.
  BtnStart = Mirror("BtnStart", "&Start", form.MnuStartRecord);
  BtnStop = Mirror("BtnStop", "S&top", form.MnuStopRecord);
  BtnPause = Mirror("BtnPause", "&Pause", form.MnuPauseRecord);
  BtnResume = Mirror("BtnResume", "&Resume", form.MnuResumeRecord);
  BtnOptions = Mirror("BtnOptions", "&Options...", form.MnuOptions);
  BtnExit = Mirror("BtnExit", "E&xit", form.MnuExit);
  QPushButton* order[] = {BtnStart, BtnStop, BtnPause, BtnResume, BtnOptions, BtnExit};
  for (int i = 0; i < 6; ++i) buttons->addWidget(order[i], i / 4, i % 4);
  root->addLayout(buttons);

  connect(form.MnuStatus, &QAction::changed, this, [this] { ShowStatus(); });
  // Idle has no status line in the menu; the state items say it.
  connect(form.MnuStartRecord, &QAction::changed, this, [this] { ShowStatus(); });
  ShowStatus();
  setFixedWidth(420);
}

QPushButton* TFrmControl::Mirror(const char* name, const char* caption, QAction* item) {
  auto* button = new QPushButton(QString::fromLatin1(caption));
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  button->setEnabled(item->isEnabled());
  connect(item, &QAction::changed, button, [button, item] { button->setEnabled(item->isEnabled()); });
  connect(button, &QPushButton::clicked, item, &QAction::trigger);
  return button;
}

void TFrmControl::ShowStatus() {
  const bool recording = Form.TrayState() != TTrayState::Idle && Form.MnuStatus->isVisible();
  LblStatus->setText(recording ? Form.MnuStatus->text() : QString("Not recording"));
}

void TFrmControl::closeEvent(QCloseEvent* event) {
  // The window is the program's only presence: closing it must not leave the user without a way
  // back. Exit is the way out.
  if (Form.Closed()) {
    event->accept();
    return;
  }
  event->ignore();
  showMinimized();
}

}  // namespace qv
