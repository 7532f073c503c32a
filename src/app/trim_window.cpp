#include "app/trim_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "app/message_box.h"

namespace qv {

namespace {

constexpr int kPictureWidth = 640;
constexpr int kThumbnails = 8;
constexpr int kThumbnailWidth = 80;

QImage ToImage(const TRgbPicture& p) {
  QImage image(reinterpret_cast<const uchar*>(p.Pixels.data()), p.Width, p.Height, p.Width * 4, QImage::Format_RGB32);
  return image.copy();  // the pixels' owner goes
}

}  // namespace

// The sound's loudness along the recording, with the kept part between the points shaded.
class TSoundOutline : public QWidget {
 public:
  TSoundOutline(std::vector<float> peaks, QWidget* parent) : QWidget(parent), Peaks(std::move(peaks)) {
    setObjectName("SoundOutline");
    setMinimumHeight(48);
  }
  void SetMarks(double in, double out, double now) {
    In = in;
    Out = out;
    Now = now;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const int w = width(), h = height();
    p.fillRect(rect(), palette().base());
    p.fillRect(QRectF(In * w, 0, (Out - In) * w, h), palette().highlight().color().lighter(170));
    p.setPen(palette().text().color());
    for (size_t i = 0; i < Peaks.size(); ++i) {
      const double x = (double(i) + 0.5) * w / double(Peaks.size());
      const double half = Peaks[i] * (h - 2) / 2;
      p.drawLine(QPointF(x, h / 2.0 - half), QPointF(x, h / 2.0 + half));
    }
    p.setPen(QPen(palette().highlight().color(), 2));
    p.drawLine(QPointF(Now * w, 0), QPointF(Now * w, h));
  }

 private:
  std::vector<float> Peaks;
  double In = 0, Out = 1, Now = 0;
};

QString PointText(std::int64_t us) {
  const std::int64_t cs = us / 10000;
  return QString::asprintf("%d:%02d.%02d", int(cs / 6000), int(cs / 100 % 60), int(cs % 100));
}

TTrimWindow* TTrimWindow::Open(const std::string& file, QWidget* parent, std::string& error) {
  TMediaFacts facts;
  if (!ReadMediaFacts(file, facts, error)) return nullptr;
  TPictureReader probe;
  if (!probe.Open(file)) {
    error = probe.Error();
    return nullptr;
  }
  auto* window = new TTrimWindow(file, facts, parent);
  window->ShowAt(0);
  return window;
}

TTrimWindow::TTrimWindow(const std::string& file, const TMediaFacts& facts, QWidget* parent)
    : QDialog(parent), File(file), Facts(facts), Out(facts.DurationUs) {
  setObjectName("TrimWindow");
  setWindowTitle(QString::fromStdString("Trim – " + file.substr(file.find_last_of('/') + 1)));
  setAttribute(Qt::WA_DeleteOnClose);
  Reader.Open(file);
  auto* layout = new QVBoxLayout(this);
  LblPicture = new QLabel(this);
  LblPicture->setObjectName("LblPicture");
  LblPicture->setAlignment(Qt::AlignCenter);
  LblPicture->setMinimumSize(kPictureWidth, kPictureWidth * 9 / 16);
  layout->addWidget(LblPicture, 1);
  layout->addWidget(MakeThumbnails());
  Scrubber = new QSlider(Qt::Horizontal, this);
  Scrubber->setObjectName("Scrubber");
  Scrubber->setRange(0, int(facts.DurationUs / 1000));
  Scrubber->setFocusPolicy(Qt::NoFocus);  // the window's own keys step and mark
  connect(Scrubber, &QSlider::valueChanged, this, [this](int ms) {
    if (std::int64_t(ms) != Now / 1000) ShowAt(std::int64_t(ms) * 1000);
  });
  layout->addWidget(Scrubber);
  TPictureReader sound;
  Outline = new TSoundOutline(sound.Open(file) ? sound.SoundOutline(400) : std::vector<float>(), this);
  layout->addWidget(Outline);
  LblPoints = new QLabel(this);
  LblPoints->setObjectName("LblPoints");
  layout->addWidget(LblPoints);
  auto* row = new QHBoxLayout;
  ChkFast = new QCheckBox("Fast, at key frames", this);
  ChkFast->setObjectName("ChkFast");
  ChkFast->setFocusPolicy(Qt::NoFocus);
  BtnSave = new QPushButton("&Save trimmed copy", this);
  BtnSave->setObjectName("BtnSave");
  BtnSave->setFocusPolicy(Qt::NoFocus);
  BtnCancel = new QPushButton("Cancel", this);
  BtnCancel->setObjectName("BtnCancel");
  BtnCancel->setEnabled(false);
  BtnCancel->setFocusPolicy(Qt::NoFocus);
  Progress = new QProgressBar(this);
  Progress->setObjectName("Progress");
  Progress->setRange(0, 1000);
  Progress->setVisible(false);
  row->addWidget(ChkFast);
  row->addStretch();
  row->addWidget(Progress);
  row->addWidget(BtnSave);
  row->addWidget(BtnCancel);
  layout->addLayout(row);
  layout->addWidget(new QLabel("I / O: in and out point · ← →: one picture · Space: play", this));
  connect(BtnSave, &QPushButton::clicked, this, [this] { Save(); });
  connect(BtnCancel, &QPushButton::clicked, this, [this] {
    if (Job) Job->Cancel();
  });
  connect(&Player, &QTimer::timeout, this, [this] {
    if (Now + PictureUs() >= Facts.DurationUs) Player.stop();
    else Step(1);
  });
  setFocusPolicy(Qt::StrongFocus);
}

QWidget* TTrimWindow::MakeThumbnails() {
  auto* strip = new QWidget(this);
  strip->setObjectName("Thumbnails");
  auto* row = new QHBoxLayout(strip);
  row->setContentsMargins(0, 0, 0, 0);
  for (int i = 0; i < kThumbnails; ++i) {
    auto* label = new QLabel(strip);
    TRgbPicture picture;
    if (Reader.PictureAt(Facts.DurationUs * i / kThumbnails, kThumbnailWidth, picture))
      label->setPixmap(QPixmap::fromImage(ToImage(picture)));
    row->addWidget(label);
  }
  return strip;
}

std::int64_t TTrimWindow::PictureUs() const {
  return Facts.FrameRate > 0 ? std::int64_t(1e6 / Facts.FrameRate) : 40000;
}

void TTrimWindow::ShowAt(std::int64_t us) {
  Now = std::clamp<std::int64_t>(us, 0, std::max<std::int64_t>(Facts.DurationUs - PictureUs(), 0));
  TRgbPicture picture;
  if (Reader.PictureAt(Now, std::min(Facts.Width, kPictureWidth), picture))
    LblPicture->setPixmap(QPixmap::fromImage(ToImage(picture)));
  Scrubber->setValue(int(Now / 1000));
  const double d = double(std::max<std::int64_t>(Facts.DurationUs, 1));
  Outline->SetMarks(double(In) / d, double(Out) / d, double(Now) / d);
  LblPoints->setText(QString("Now %1   In %2   Out %3   Length %4")
                         .arg(PointText(Now), PointText(In), PointText(Out), PointText(Out - In)));
}

void TTrimWindow::Step(int pictures) { ShowAt(Now + pictures * PictureUs()); }

void TTrimWindow::SetPoint(bool in) {
  if (in) {
    In = Now;
    Out = std::max(Out, In);
  } else {
    // The out point keeps the picture shown.
    Out = std::min(Now + PictureUs(), Facts.DurationUs);
    In = std::min(In, Now);
  }
  ShowAt(Now);
}

void TTrimWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_I: SetPoint(true); return;
    case Qt::Key_O: SetPoint(false); return;
    case Qt::Key_Left: Step(-1); return;
    case Qt::Key_Right: Step(1); return;
    case Qt::Key_Space:
      if (Player.isActive()) Player.stop();
      else Player.start(int(PictureUs() / 1000));
      return;
    default: QDialog::keyPressEvent(event);
  }
}

void TTrimWindow::Save() {
  if (Job) return;
  TExportRequest request;
  request.Source = File;
  request.InUs = In;
  request.OutUs = Out;
  request.FastAtKeyFrames = ChkFast->isChecked();
  Player.stop();
  Job = std::make_unique<TExportJob>();
  Job->OnProgress = [this](double p) { Progress->setValue(int(p * 1000)); };
  Job->OnFinished = [this](const TExportResult& result) {
    QMetaObject::invokeMethod(this, [this, result] { SaveEnded(result); }, Qt::QueuedConnection);
  };
  if (!Job->Start(PlanExport(request, Facts, ""))) {
    ShowMessageBox(this, "The trimmed copy could not be started: " + Job->Error(), "Trim", TMessageIcon::Error);
    Job.reset();
    return;
  }
  Progress->setValue(0);
  Progress->setVisible(true);
  BtnSave->setEnabled(false);
  BtnCancel->setEnabled(true);
}

void TTrimWindow::SaveEnded(const TExportResult& result) {
  Job.reset();
  Progress->setVisible(false);
  BtnSave->setEnabled(true);
  BtnCancel->setEnabled(false);
  if (result.Completed) {
    SavedFile = result.Output;
    setWindowTitle(QString::fromStdString("Trim – saved " + result.Output.substr(result.Output.find_last_of('/') + 1)));
  } else if (!result.Cancelled) {
    ShowMessageBox(this, "The trimmed copy was not saved: " + result.Error, "Trim", TMessageIcon::Error);
  }
}

void TTrimWindow::closeEvent(QCloseEvent* event) {
  // A save under way is called off, and its half-written file goes with it.
  if (Job) {
    Job->Cancel();
    event->ignore();
    Job->OnFinished = [this](const TExportResult&) {
      QMetaObject::invokeMethod(this, [this] { Job.reset(); close(); }, Qt::QueuedConnection);
    };
    return;
  }
  QDialog::closeEvent(event);
}

}  // namespace qv
