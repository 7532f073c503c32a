// "About Quorvane": product name, version, where the recordings' logs and the settings are, an OK
// button.
#pragma once

#include <QDialog>

namespace qv {

class TFrmAboutQuorvane : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmAboutQuorvane(QWidget* parent = nullptr);
};

}  // namespace qv
