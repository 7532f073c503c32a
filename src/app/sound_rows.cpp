#include "app/sound_rows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>
#include <algorithm>
#include <cmath>

#include "capture/sound_meter.h"

namespace qv {

namespace {

constexpr int kMeterFloorDb = -60;

template <class T>
T* Named(T* widget, const std::string& name) {
  widget->setObjectName(QString::fromStdString(name));
  return widget;
}

QString Db(double db) {
  const long rounded = std::lround(db);
  return (rounded < 0 ? QString::fromUtf8("\u2212") : QString()) + QString::number(std::labs(rounded));
}

void ShowLevel(TSoundRow& row, const TSoundLevel& level, const std::string& problem) {
  const bool quiet = level.Muted || level.PeakDb <= kSilentDb || !problem.empty();
  row.Meter->setValue(quiet ? kMeterFloorDb : std::clamp(int(std::lround(level.PeakDb)), kMeterFloorDb, 0));
  const QString text = !problem.empty() ? QStringLiteral("no sound")
                       : level.Muted    ? QStringLiteral("muted")
                       : level.PeakDb <= kSilentDb
                           ? QStringLiteral("silent")
                           : Db(level.PeakDb) + " dB (RMS " + Db(level.RmsDb) + ")";
  row.Level->setText(text);
  row.Level->setToolTip(QString::fromStdString(problem));
}

}  // namespace

TSoundRow::TSoundRow() = default;
TSoundRow::~TSoundRow() = default;

void BuildSoundRow(TSoundRow& row, const char* key, const char* sourceName, const char* caption, QGridLayout* grid,
                   int line) {
  const std::string name = key;
  row.Label = name == "Microphone" ? "Microphone" : "Desktop";
  row.Source = Named(new QComboBox, sourceName);
  row.Volume = Named(new QSpinBox, "Spn" + name + "Volume");
  row.Volume->setRange(0, 200);
  row.Volume->setSuffix(" %");
  row.Volume->setValue(100);
  row.Volume->setToolTip("This source's volume in the recording");
  row.Mute = Named(new QCheckBox("Mute"), "Chk" + name + "Mute");
  row.Meter = Named(new QProgressBar, "Bar" + name + "Level");
  row.Meter->setRange(kMeterFloorDb, 0);
  row.Meter->setValue(kMeterFloorDb);
  row.Meter->setTextVisible(false);
  row.Meter->setMaximumHeight(12);
  row.Meter->setToolTip("The source's level as it would be recorded (peak, -60 to 0 dB)");
  row.Level = Named(new QLabel, "Lbl" + name + "Level");
  row.Level->setMinimumWidth(row.Level->fontMetrics().horizontalAdvance("-60 dB (RMS -60)") + 8);
  auto* label = Named(new QLabel(caption), "Lbl" + name);
  label->setBuddy(row.Source);
  grid->addWidget(label, line, 0);
  grid->addWidget(row.Source, line, 1);
  grid->addWidget(row.Volume, line, 2);
  grid->addWidget(row.Mute, line, 3);
  grid->addWidget(row.Meter, line, 4);
  grid->addWidget(row.Level, line, 5);
}

std::string ChosenSoundSource(const TSoundRow& row) {
  const std::string source = row.Source->currentData().toString().toStdString();
  return source == kNoSoundSource ? std::string() : source;
}

void TickSoundRow(TSoundRow& row, bool on) {
  const std::string source = on && row.Source->isEnabled() ? ChosenSoundSource(row) : std::string();
  if (source != row.LiveSource || (source.empty() && row.Live)) {
    row.Live.reset();
    row.LiveSource = source;
    if (!source.empty()) row.Live = std::make_unique<TSoundMeter>(source, row.Label);
  }
  if (!row.Live) {
    row.Meter->setValue(kMeterFloorDb);
    row.Level->clear();
    return;
  }
  row.Live->SetVolume(row.Volume->value(), row.Mute->isChecked());
  ShowLevel(row, row.Live->Level(), row.Live->Problem());
}

// ALSA's default first and the sources there are now, and the saved one even when it is gone (a
// microphone unplugged), so that OK keeps it.
void FillSoundSources(QComboBox* box, const std::vector<TSoundSource>& sources, const std::string& saved,
                      bool withNone) {
  box->clear();
  if (withNone) box->addItem("None", QString::fromLatin1(kNoSoundSource));
  for (const TSoundSource& source : sources) {
    const std::string text = source.Name == source.Description || source.Description.empty()
                                 ? source.Name
                                 : source.Description + " (" + source.Name + ")";
    box->addItem(QString::fromStdString(text), QString::fromStdString(source.Name));
  }
  int index = box->findData(QString::fromStdString(saved));
  if (index < 0) {
    box->addItem(QString::fromStdString(saved + " (not present)"), QString::fromStdString(saved));
    index = box->count() - 1;
  }
  box->setCurrentIndex(index);
}

}  // namespace qv
