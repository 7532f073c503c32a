#include "app/recent_window.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/export_window.h"
#include "app/message_box.h"
#include "app/recent_recordings.h"
#include "app/trim_window.h"
#include "export/media_facts.h"
#include "export/picture_reader.h"

namespace qv {

namespace {

constexpr int kThumbnailWidth = 160;

QString SizeText(qint64 bytes) {
  return bytes >= 1000000 ? QString::asprintf("%.1f MB", double(bytes) / 1e6) : QString::asprintf("%lld kB", bytes / 1000);
}

QListWidgetItem* MakeItem(const std::string& file) {
  const QFileInfo info(QString::fromStdString(file));
  TMediaFacts facts;
  std::string error;
  const bool known = ReadMediaFacts(file, facts, error);
  auto* item = new QListWidgetItem(info.fileName() + "\n" + (known ? PointText(facts.DurationUs) : QString("?")) +
                                   " · " + SizeText(info.size()) + " · " + info.suffix().toUpper() + "\n" +
                                   info.absolutePath());
  item->setData(Qt::UserRole, QString::fromStdString(file));
  TPictureReader reader;
  TRgbPicture picture;
  if (known && reader.Open(file) && reader.PictureAt(std::min<std::int64_t>(1000000, facts.DurationUs / 2), kThumbnailWidth, picture)) {
    const QImage image(reinterpret_cast<const uchar*>(picture.Pixels.data()), picture.Width, picture.Height,
                       picture.Width * 4, QImage::Format_RGB32);
    item->setIcon(QIcon(QPixmap::fromImage(image.copy())));
  }
  return item;
}

}  // namespace

TRecentWindow::TRecentWindow(std::string listFile, QWidget* parent) : QDialog(parent), ListFile(std::move(listFile)) {
  setObjectName("RecentWindow");
  setWindowTitle("Recent Recordings");
  auto* layout = new QVBoxLayout(this);
  LstRecordings = new QListWidget(this);
  LstRecordings->setObjectName("LstRecordings");
  LstRecordings->setIconSize(QSize(kThumbnailWidth, kThumbnailWidth * 9 / 16));
  LstRecordings->setMinimumSize(560, 360);
  layout->addWidget(LstRecordings, 1);
  auto* row = new QHBoxLayout;
  auto button = [this, row](const char* name, const char* caption, auto handler) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    connect(b, &QPushButton::clicked, this, handler);
    row->addWidget(b);
    return b;
  };
  auto open = [this](bool folder) {
    const std::string file = Selected();
    if (file.empty()) return;
    const QFileInfo info(QString::fromStdString(file));
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder ? info.absolutePath() : info.absoluteFilePath()));
  };
  BtnPlay = button("BtnPlay", "&Play", [open] { open(false); });
  BtnOpenFolder = button("BtnOpenFolder", "Open &folder", [open] { open(true); });
  BtnTrim = button("BtnTrim", "&Trim…", [this] { OpenWindow(true); });
  BtnExport = button("BtnExport", "&Export…", [this] { OpenWindow(false); });
  BtnTrash = button("BtnTrash", "Move to t&rash", [this] { Trash(); });
  layout->addLayout(row);
  connect(LstRecordings, &QListWidget::itemDoubleClicked, this, [open] { open(false); });
  Refresh();
}

void TRecentWindow::Refresh() {
  LstRecordings->clear();
  for (const std::string& file : TRecentRecordings(ListFile).Files()) LstRecordings->addItem(MakeItem(file));
  if (LstRecordings->count() > 0) LstRecordings->setCurrentRow(0);
  for (QPushButton* b : {BtnPlay, BtnOpenFolder, BtnTrim, BtnExport, BtnTrash}) b->setEnabled(LstRecordings->count() > 0);
}

std::string TRecentWindow::Selected() const {
  const QListWidgetItem* item = LstRecordings->currentItem();
  return item ? item->data(Qt::UserRole).toString().toStdString() : std::string();
}

void TRecentWindow::Trash() {
  const std::string file = Selected();
  if (file.empty()) return;
  std::string error;
  if (!MoveToTrash(file, error)) {
    ShowMessageBox(this, error, "Recent Recordings", TMessageIcon::Error);
    return;
  }
  TRecentRecordings(ListFile).Remove(file);
  Refresh();
}

void TRecentWindow::OpenWindow(bool trim) {
  const std::string file = Selected();
  if (file.empty()) return;
  std::string error;
  QDialog* window = trim ? static_cast<QDialog*>(TTrimWindow::Open(file, this, error))
                         : static_cast<QDialog*>(TExportWindow::Open(file, this, error));
  if (!window) {
    ShowMessageBox(this, error, "Recent Recordings", TMessageIcon::Error);
    return;
  }
  // A trimmed copy or an export is a recording of the user's too.
  connect(window, &QDialog::finished, this, [this] { Refresh(); });
  window->show();
}

}  // namespace qv
