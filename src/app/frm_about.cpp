#include "app/frm_about.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/unit_general.h"

namespace qv {

TFrmAboutQuorvane::TFrmAboutQuorvane(QWidget* parent) : QDialog(parent) {
  setObjectName("FrmAboutQuorvane");
  setWindowTitle("About Quorvane");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* icon = new QLabel;
  icon->setObjectName("img1");
  icon->setPixmap(QIcon(":/quorvane/idle.png").pixmap(48, 48));
  auto* text = new QLabel(QString("<b>Quorvane</b><br>Version %1<br><br>Screen recorder for the Linux desktop.")
                              .arg(QStringLiteral(QV_VERSION)));
  text->setObjectName("LblProduct");
  // Where a bug report's material is: each recording writes a log of its own there.
  auto* places = new QLabel(QString("Recording logs: %1\nSettings: %2")
                                .arg(QString::fromStdString(GetStateFolder()),
                                     QString::fromStdString(GetOptionsFileName())));
  places->setObjectName("LblPlaces");
  places->setTextInteractionFlags(Qt::TextSelectableByMouse);
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addWidget(text, 1);
  layout->addLayout(top);
  layout->addWidget(places);
  auto* ok = new QPushButton("OK");
  ok->setObjectName("BtnOK");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  layout->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(300, 0)));
}

}  // namespace qv
