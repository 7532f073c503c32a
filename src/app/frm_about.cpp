#include "app/frm_about.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

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
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addWidget(text, 1);
  layout->addLayout(top);
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
