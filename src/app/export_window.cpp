#include "app/export_window.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/message_box.h"
#include "export/gif_passes.h"

namespace qv {

namespace {

QComboBox* Choice(QWidget* parent, const char* name, const QStringList& items, int current) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  box->addItems(items);
  box->setCurrentIndex(current);
  return box;
}

}  // namespace

TExportWindow* TExportWindow::Open(const std::string& file, QWidget* parent, std::string& error) {
  TMediaFacts facts;
  if (!ReadMediaFacts(file, facts, error)) return nullptr;
  return new TExportWindow(file, facts, parent);
}

TExportWindow::TExportWindow(const std::string& file, const TMediaFacts& facts, QWidget* parent)
    : QDialog(parent), File(file), Facts(facts) {
  setObjectName("ExportWindow");
  setWindowTitle(QString::fromStdString("Export – " + file.substr(file.find_last_of('/') + 1)));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  RbMp4 = new QRadioButton("MP4 for sharing", this);
  RbMp4->setObjectName("RbMp4");
  RbMp4->setChecked(true);
  RbGif = new QRadioButton("GIF", this);
  RbGif->setObjectName("RbGif");
  CmbSize = Choice(this, "CmbSize", {"Original", "1080p", "720p"}, 0);
  CmbQuality = Choice(this, "CmbQuality", {"High", "Medium", "Low"}, 1);
  CmbFps = Choice(this, "CmbFps", {"10", "15"}, 0);
  CmbWidth = Choice(this, "CmbWidth", {"320", "480", "640", "800", "Original"}, 2);
  form->addRow(RbMp4);
  form->addRow("Size:", CmbSize);
  form->addRow("Quality:", CmbQuality);
  form->addRow(RbGif);
  form->addRow("Pictures a second:", CmbFps);
  form->addRow("Width:", CmbWidth);
  layout->addLayout(form);
  LblEstimate = new QLabel(this);
  LblEstimate->setObjectName("LblEstimate");
  LblEstimate->setWordWrap(true);
  layout->addWidget(LblEstimate);
  auto* row = new QHBoxLayout;
  Progress = new QProgressBar(this);
  Progress->setObjectName("Progress");
  Progress->setRange(0, 1000);
  Progress->setVisible(false);
  BtnExport = new QPushButton("&Export", this);
  BtnExport->setObjectName("BtnExport");
  BtnCancel = new QPushButton("Cancel", this);
  BtnCancel->setObjectName("BtnCancel");
  row->addWidget(Progress, 1);
  row->addWidget(BtnExport);
  row->addWidget(BtnCancel);
  layout->addLayout(row);
  for (QComboBox* box : {CmbSize, CmbQuality, CmbFps, CmbWidth})
    connect(box, &QComboBox::currentIndexChanged, this, [this] { UpdateEstimate(); });
  connect(RbGif, &QRadioButton::toggled, this, [this] { UpdateEstimate(); });
  connect(BtnExport, &QPushButton::clicked, this, [this] { Export(); });
  connect(BtnCancel, &QPushButton::clicked, this, [this] {
    if (Job) Job->Cancel();
    else close();
  });
  UpdateEstimate();
}

TExportRequest TExportWindow::Request() const {
  TExportRequest r;
  r.Source = File;
  r.Kind = RbGif->isChecked() ? TExportKind::Gif : TExportKind::Mp4;
  r.Size = TExportSize(CmbSize->currentIndex());
  r.Quality = TExportQuality(CmbQuality->currentIndex());
  r.GifFps = CmbFps->currentText().toInt();
  r.GifWidth = CmbWidth->currentText().toInt();  // "Original" reads as 0
  return r;
}

void TExportWindow::UpdateEstimate() {
  const bool gif = RbGif->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(CmbSize), static_cast<QWidget*>(CmbQuality)}) w->setEnabled(!gif);
  for (QWidget* w : {static_cast<QWidget*>(CmbFps), static_cast<QWidget*>(CmbWidth)}) w->setEnabled(gif);
  const std::string name = ExportFileName(File, gif ? TExportKind::Gif : TExportKind::Mp4);
  QString text = "Writes " + QString::fromStdString(name.substr(name.find_last_of('/') + 1)) + ".";
  if (gif) {
    const double mb = double(EstimateGifBytes(Request(), Facts)) / 1e6;
    text += QString::asprintf(" About %.1f MB.", mb);
    if (mb * 1e6 > double(kLargeGifBytes))
      text += " That is large for a GIF: a lower rate, a smaller width or a shorter piece makes it smaller.";
  }
  LblEstimate->setText(text);
}

void TExportWindow::Export() {
  if (Job) return;
  const TExportRequest request = Request();
  auto palette = std::make_shared<TPaletteFile>();
  Job = std::make_unique<TExportJob>();
  Job->OnProgress = [this](double p) { Progress->setValue(int(p * 1000)); };
  Job->OnFinished = [this, palette](const TExportResult& result) {
    QMetaObject::invokeMethod(this, [this, result] {
      Job.reset();
      Progress->setVisible(false);
      BtnExport->setEnabled(true);
      if (result.Completed) {
        ShowMessageBox(this, "Written: " + result.Output, "Export", TMessageIcon::Information);
        close();
      } else if (!result.Cancelled) {
        ShowMessageBox(this, "The export was not written: " + result.Error, "Export", TMessageIcon::Error);
      }
    }, Qt::QueuedConnection);
  };
  if (!Job->Start(PlanExport(request, Facts, palette->FileName()))) {
    ShowMessageBox(this, "The export could not be started: " + Job->Error(), "Export", TMessageIcon::Error);
    Job.reset();
    return;
  }
  Progress->setValue(0);
  Progress->setVisible(true);
  BtnExport->setEnabled(false);
}

}  // namespace qv
