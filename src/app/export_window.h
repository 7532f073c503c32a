// The export window: "MP4 for sharing" (size and quality) or "GIF" (rate and width, with the
// likely size and a warning above 20 MB); the file goes beside the recording, with progress and
// Cancel.
#pragma once

#include <QDialog>
#include <memory>

#include "export/export_job.h"
#include "export/media_facts.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace qv {

class TExportWindow : public QDialog {
  Q_OBJECT
 public:
  static TExportWindow* Open(const std::string& file, QWidget* parent, std::string& error);
  TExportRequest Request() const;

  QRadioButton *RbMp4, *RbGif;
  QComboBox *CmbSize, *CmbQuality, *CmbFps, *CmbWidth;
  QLabel* LblEstimate;
  QPushButton *BtnExport, *BtnCancel;
  QProgressBar* Progress;

 private:
  TExportWindow(const std::string& file, const TMediaFacts& facts, QWidget* parent);
  void UpdateEstimate();
  void Export();

  std::string File;
  TMediaFacts Facts;
  std::unique_ptr<TExportJob> Job;
};

}  // namespace qv
