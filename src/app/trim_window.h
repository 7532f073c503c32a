// The trim window: the recording's picture large at the current point, thumbnails along the
// scrubber, the sound's outline under it with the in and out points; I and O set the points, the
// arrows step a picture, Space plays. "Save trimmed copy" writes "<name> (trimmed).<ext>" beside the
// recording through the export layer, with a progress bar and Cancel.
#pragma once

#include <QDialog>
#include <QImage>
#include <QTimer>
#include <memory>
#include <vector>

#include "export/export_job.h"
#include "export/media_facts.h"
#include "export/picture_reader.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;

namespace qv {

class TSoundOutline;

class TTrimWindow : public QDialog {
  Q_OBJECT
 public:
  // False (and nothing shown) when the recording cannot be read; the reason in `error`.
  static TTrimWindow* Open(const std::string& file, QWidget* parent, std::string& error);
  std::int64_t InUs() const { return In; }
  std::int64_t OutUs() const { return Out; }
  // The file the last save wrote ("" before one finished).
  const std::string& Saved() const { return SavedFile; }

  QLabel* LblPicture;
  QLabel* LblPoints;
  QSlider* Scrubber;
  QCheckBox* ChkFast;
  QPushButton* BtnSave;
  QPushButton* BtnCancel;
  QProgressBar* Progress;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  TTrimWindow(const std::string& file, const TMediaFacts& facts, QWidget* parent);
  QWidget* MakeThumbnails();
  void ShowAt(std::int64_t us);
  void Step(int pictures);
  void SetPoint(bool in);
  void Save();
  void SaveEnded(const TExportResult& result);
  std::int64_t PictureUs() const;

  std::string File;
  TMediaFacts Facts;
  TPictureReader Reader;
  TSoundOutline* Outline = nullptr;
  std::int64_t Now = 0, In = 0, Out = 0;
  QTimer Player;
  std::unique_ptr<TExportJob> Job;
  std::string SavedFile;
};

// "0:03.00": minutes, seconds and hundredths.
QString PointText(std::int64_t us);

}  // namespace qv
