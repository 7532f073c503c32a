// The options window's controls and the frame-size rules that keep them in step.
#include "app/frm_main.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include "app/form_widgets.h"
#include "app/global_shortcuts.h"
#include "app/hotkey_grabber.h"
#include "app/message_box.h"
#include "app/notices.h"
#include "app/recording_options.h"
#include "app/sound_rows.h"
#include "recording/recording_request.h"

namespace qv {

namespace {

constexpr int kCustomFrameSize = 18;
constexpr const char* kAutoSaveCaption =
    "Automatically generate file name, file name is in Date-time mode, such as 2011-01-27, 22_02_11.";

template <class T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QLabel* Label(const char* name, const char* caption) { return Named(new QLabel(QString::fromLatin1(caption)), name); }

struct TLabelled {
  const char *Name, *Caption;
  QWidget* Widget;
};

// Each widget after its label, `perRow` of them side by side from row `first` down; returns the
// first row left free.
int AddLabelledRows(QGridLayout& grid, int first, std::initializer_list<TLabelled> rows, int perRow) {
  int at = 0;
  for (const TLabelled& row : rows) {
    grid.addWidget(Label(row.Name, row.Caption), first + at / perRow, 2 * (at % perRow));
    grid.addWidget(row.Widget, first + at / perRow, 2 * (at % perRow) + 1);
    ++at;
  }
  return first + (at + perRow - 1) / perRow;
}

QComboBox* Combo(const char* name, std::initializer_list<const char*> items) {
  auto* combo = Named(new QComboBox, name);
  for (const char* item : items) combo->addItem(QString::fromLatin1(item));
  return combo;
}

}  // namespace

TFrmMain::TFrmMain(QWidget* parent) : QDialog(parent), Grabber(std::make_unique<THotkeyGrabber>()) {
  setObjectName("FrmMain");
  setWindowTitle("Options of Quorvane");
  // A tool window has no taskbar entry: the program's presence is the tray icon alone. It can be
  // resized: on a small or scaled screen the groups scroll and the buttons stay in sight.
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
  BuildControls();
  setSizeGripEnabled(true);
  resize(NaturalSize());
  BuildTray();
  FNotices = std::make_unique<TNotices>(TrayIcon);
  Grabber->OnHotkey = [this](long id) {
    // Out of the event filter first: a handler may run a modal loop of its own.
    QMetaObject::invokeMethod(this, [this, id] { HotkeyPressed(id); }, Qt::QueuedConnection);
  };
}

TFrmMain::~TFrmMain() = default;

void TFrmMain::BuildControls() {
  auto* page = new QWidget;
  page->setObjectName("Page");
  auto* root = new QVBoxLayout(page);
  root->setContentsMargins(8, 8, 8, 8);
  root->setSpacing(6);

  // General and the capture mode side by side.
  auto* grpGeneral = Named(new QGroupBox("General"), "GrpGeneral");
  auto* general = new QVBoxLayout(grpGeneral);
  ChkRecordAudio = Named(new QCheckBox("Record Audio"), "ChkRecordAudio");
  ChkBlink = Named(new QCheckBox("Blink while recording"), "ChkBlink");
  // Unchanged frames repeat the one before by default; some players mishandle that.
  ChkEveryFrame = Named(new TWrapCheckBox("Code every frame, also unchanged ones"), "ChkEveryFrame");
  ChkShowClicks = Named(new TWrapCheckBox("Show mouse clicks in the recording"), "ChkShowClicks");
  ChkPlayBack = Named(new TWrapCheckBox("Play back recorded video after recording stops"), "ChkPlayBack");
  general->addWidget(ChkRecordAudio);
  general->addWidget(ChkBlink);
  general->addWidget(ChkEveryFrame);
  general->addWidget(ChkShowClicks);
  general->addWidget(ChkPlayBack);
  general->addStretch(1);

  auto* grpRegion = Named(new QGroupBox("Region to Capture"), "GrpRegion");
  auto* region = new QVBoxLayout(grpRegion);
  RdbRegion = Named(new QRadioButton("Define region before recording "), "RdbRegion");
  RdbWindow = Named(new QRadioButton("Select window before recording"), "RdbWindow");
  RdbFullScreen = Named(new QRadioButton("Full screen"), "RdbFullScreen");
  for (QRadioButton* button : {RdbRegion, RdbWindow, RdbFullScreen}) region->addWidget(button);
  CboScreen = Named(new QComboBox, "CboScreen");
  CboScreen->setToolTip("Which screen a full-screen recording covers");
  region->addWidget(CboScreen);
  connect(RdbFullScreen, &QRadioButton::toggled, CboScreen, &QWidget::setEnabled);
  region->addStretch(1);
  auto* row1 = new QHBoxLayout;
  row1->addWidget(grpGeneral, 3);
  row1->addWidget(grpRegion, 2);
  root->addLayout(row1);
  root->addWidget(SoundAndCountdownGroup());
  root->addWidget(KeysGroup());

  // Start and pause on the left, stop and resume on the right.
  auto* grpHotkey = Named(new QGroupBox("Recording Hotkey"), "GrpHotkey");
  auto* hotkeys = new QGridLayout(grpHotkey);
  EdtStartHotkey = Named(new THotkeyEdit, "EdtStartHotkey");
  EdtStopHotkey = Named(new THotkeyEdit, "EdtStopHotkey");
  EdtPauseHotkey = Named(new THotkeyEdit, "EdtPauseHotkey");
  EdtResumeHotkey = Named(new THotkeyEdit, "EdtResumeHotkey");
  hotkeys->addWidget(Label("LblStartHotkey", "Start Recording"), 0, 0);
  hotkeys->addWidget(EdtStartHotkey, 0, 1);
  hotkeys->addWidget(Label("LblStopHotkey", "Stop Recording"), 0, 2);
  hotkeys->addWidget(EdtStopHotkey, 0, 3);
  hotkeys->addWidget(Label("LblPauseHotkey", "Pause Recording"), 1, 0);
  hotkeys->addWidget(EdtPauseHotkey, 1, 1);
  hotkeys->addWidget(Label("LblResumeHotkey", "Resume Recording"), 1, 2);
  hotkeys->addWidget(EdtResumeHotkey, 1, 3);
  LblHotkeysUnavailable = Label("LblHotkeysUnavailable", "");
  LblHotkeysUnavailable->setWordWrap(true);
  LblHotkeysUnavailable->hide();
  hotkeys->addWidget(LblHotkeysUnavailable, 2, 0, 1, 4);
  hotkeys->setColumnStretch(1, 1);
  hotkeys->setColumnStretch(3, 1);
  root->addWidget(grpHotkey);

  auto* grpSize = Named(new QGroupBox("Output Size"), "GrpOutputSize");
  auto* size = new QGridLayout(grpSize);
  ChkSameArea = Named(new QCheckBox("Same to original area"), "ChkSameArea");
  LblFrameSize = Label("LblFrameSize", "Frame Size:");
  CboFrameSize = Combo("CboFrameSize", {"128 x 96", "160 x 120", "176 x 144", "208 x 160", "208 x 176", "240 x 180",
                                        "320 x 240", "400 x 300", "480 x 360", "512 x 384", "640 x 480", "768 x 576",
                                        "800 x 600", "1024 x 768", "1280 x 960", "640 x 360", "1280 x 720",
                                        "1920 x 1080", "Custom..."});
  ChkKeepProportions = Named(new QCheckBox("Keep the area's proportions"), "ChkKeepProportions");
  ChkKeepProportions->setToolTip("Black bars fill what the area leaves of the frame, instead of stretching it");
  LblFrameWidth = Label("LblFrameWidth", "Width");
  LblFrameHeight = Label("LblFrameHeight", "Height");
  EdtFrameWidth = Named(new TSpinEdit, "EdtFrameWidth");
  EdtFrameHeight = Named(new TSpinEdit, "EdtFrameHeight");
  size->addWidget(ChkSameArea, 0, 0, 1, 4);
  size->addWidget(LblFrameSize, 1, 0);
  size->addWidget(CboFrameSize, 1, 1, 1, 3);
  size->addWidget(LblFrameWidth, 2, 0);
  size->addWidget(EdtFrameWidth, 2, 1);
  size->addWidget(LblFrameHeight, 2, 2);
  size->addWidget(EdtFrameHeight, 2, 3);
  size->addWidget(ChkKeepProportions, 3, 0, 1, 4);

  auto* grpQuality = Named(new QGroupBox("Output Quality"), "GrpOutputQuality");
  auto* quality = new QGridLayout(grpQuality);
  CboVideoBitrate = Combo("CboVideoBitrate", {"48 Kbps", "160 Kbps", "256 Kbps", "360 Kbps", "412 Kbps", "768 Kbps",
                                              "1000 Kbps", "1600 Kbps"});
  // MS ADPCM's rate follows from the sample rate: the box shows it and offers no choice.
  CboAudioBitrate = Combo("CboAudioBitrate", {});
  CboAudioBitrate->setEnabled(false);
  CboAudioBitrate->setToolTip("The sound takes a fixed rate for its format and sample rate");
  CboAudioSampleRate = Combo("CboAudioSampleRate", {"22050 Hz", "44100 Hz"});
  BuildFormatControls();
  // Two to a row: six rows of one would not fit a window that still fits a small screen.
  quality->addWidget(Label("LblFormat", "Format"), 0, 0);
  quality->addWidget(CboFormat, 0, 1, 1, 3);
  const int hintRow = AddLabelledRows(*quality, 1,
                                      {{"LblVideoBitrate", "Video Bitrate", CboVideoBitrate},
                                       {"LblQuality", "Quality", CboQuality},
                                       {"LblAudioBitrate", "Audio Bitrate", CboAudioBitrate},
                                       {"LblAudioSampleRate", "Audio Sample Rate", CboAudioSampleRate},
                                       {"LblFrameRate", "Frame Rate", CboFrameRate}},
                                      2);
  quality->addWidget(LblFormatHint, hintRow, 0, 1, 4);
  quality->setColumnStretch(1, 1);
  quality->setColumnStretch(3, 1);
  auto* row3 = new QHBoxLayout;
  row3->addWidget(grpSize, 2);
  row3->addWidget(grpQuality, 3);
  root->addLayout(row3);

  auto* grpFile = Named(new QGroupBox("Output File"), "GrpOutputFile");
  auto* file = new QGridLayout(grpFile);
  RdbAskFileName = Named(new QRadioButton("Ask for file name"), "RdbAskFileName");
  // The example's extension follows the format (ShowFormatControls).
  RdbAutoSave = Named(new TWrapRadioButton(QString::fromLatin1(kAutoSaveCaption) + "avi"), "RdbAutoSave");
  EdtFolder = Named(new QLineEdit, "EdtFolder");
  EdtFolder->setReadOnly(true);
  BtnBrowse = Named(new QPushButton("..."), "BtnBrowse");
  BtnBrowse->setFixedWidth(32);
  file->addWidget(RdbAskFileName, 0, 0, 1, 3);
  file->addWidget(RdbAutoSave, 1, 0, 1, 3);
  file->addWidget(Label("LblFolder", "Output Folder"), 2, 0);
  file->addWidget(EdtFolder, 2, 1);
  file->addWidget(BtnBrowse, 2, 2);
  root->addWidget(grpFile);
  root->addStretch(1);

  // The two file-name choices form their own radio group, apart from the capture mode.
  auto* fileGroup = new QButtonGroup(this);
  fileGroup->addButton(RdbAskFileName);
  fileGroup->addButton(RdbAutoSave);

  ScrPage = Named(new QScrollArea, "ScrPage");
  ScrPage->setWidget(page);
  ScrPage->setWidgetResizable(true);
  ScrPage->setFrameShape(QFrame::NoFrame);
  ScrPage->setFocusPolicy(Qt::NoFocus);  // Tab goes from control to control, scrolling to each
  auto* window = new QVBoxLayout(this);
  window->setContentsMargins(0, 0, 0, 0);
  window->setSpacing(0);
  window->addWidget(ScrPage, 1);
  window->addWidget(ButtonRow());

  connect(ChkSameArea, &QCheckBox::toggled, this, [this] { ChkSameAreaClick(); });
  connect(CboFrameSize, &QComboBox::activated, this, [this] { CboFrameSizeChange(); });
  connect(EdtFrameWidth, &TSpinEdit::TextChanged, this, [this] { EdtFrameWidthChange(); });
  connect(EdtFrameHeight, &TSpinEdit::TextChanged, this, [this] { EdtFrameHeightChange(); });
  connect(EdtFrameWidth, &TSpinEdit::Exited, this, [this] { EdtFrameWidthExit(); });
  connect(EdtFrameHeight, &TSpinEdit::Exited, this, [this] { EdtFrameHeightExit(); });
  connect(CboAudioSampleRate, &QComboBox::currentIndexChanged, this, [this] { ShowAudioBitrate(); });
  connect(CboFormat, &QComboBox::currentIndexChanged, this, [this] { ShowFormatControls(); });
  ShowFormatControls();
  connect(BtnOK, &QPushButton::clicked, this, [this] { BtnOKClick(); });
  connect(BtnCancel, &QPushButton::clicked, this, [this] { BtnCancelClick(); });
  connect(BtnBrowse, &QPushButton::clicked, this, [this] { BtnBrowseClick(); });
  connect(BtnHelp, &QPushButton::clicked, this, [this] { BtnHelpClick(); });
  connect(BtnAbout, &QPushButton::clicked, this, [this] { BtnAboutClick(); });
}

QWidget* TFrmMain::ButtonRow() {
  auto* row = new QWidget;
  auto* buttons = new QHBoxLayout(row);
  buttons->setContentsMargins(8, 6, 8, 8);
  BtnOK = Named(new QPushButton("OK"), "BtnOK");
  BtnCancel = Named(new QPushButton("Cancel"), "BtnCancel");
  BtnHelp = Named(new QPushButton("Help"), "BtnHelp");
  BtnAbout = Named(new QPushButton("About"), "BtnAbout");
  buttons->addStretch(1);
  for (QPushButton* button : {BtnOK, BtnCancel, BtnHelp, BtnAbout}) {
    button->setAutoDefault(false);
    buttons->addWidget(button);
  }
  // Enter saves, as in any dialog; Escape is Cancel.
  BtnOK->setDefault(true);
  return row;
}

QGroupBox* TFrmMain::SoundAndCountdownGroup() {
  auto* group = Named(new QGroupBox("Sound and Start"), "GrpSoundAndStart");
  auto* grid = new QGridLayout(group);
  MicRow = std::make_unique<TSoundRow>();
  DesktopRow = std::make_unique<TSoundRow>();
  BuildSoundRow(*MicRow, "Microphone", "CboAudioSource", "Microphone", grid, 0);
  BuildSoundRow(*DesktopRow, "Desktop", "CboDesktopSound", "Desktop sound", grid, 1);
  grid->setColumnStretch(1, 2);
  grid->setColumnStretch(4, 1);
  CboAudioSource = MicRow->Source;
  CboAudioSource->setToolTip("The microphone, or any source the sound server offers; both rows are mixed");
  DesktopRow->Source->setToolTip("What the desktop plays, or any other source; both rows are mixed");
  MeterTimer = new QTimer(this);
  MeterTimer->setInterval(100);
  connect(MeterTimer, &QTimer::timeout, this, [this] { TickMeters(); });
  CboCountdown = Named(new QComboBox, "CboCountdown");
  CboCountdown->setToolTip("Seconds counted down on the screen before the recording starts (Escape cancels)");
  CboCountdown->addItem("Off", 0);
  CboCountdown->addItem("3 s", 3);
  CboCountdown->addItem("5 s", 5);
  connect(ChkRecordAudio, &QCheckBox::toggled, CboAudioSource, &QWidget::setEnabled);
  connect(ChkRecordAudio, &QCheckBox::toggled, DesktopRow->Source, &QWidget::setEnabled);
  grid->addWidget(Label("LblCountdown", "Countdown"), 2, 0);
  grid->addWidget(CboCountdown, 2, 1, Qt::AlignLeft);
  return group;
}

void TFrmMain::TickMeters() {
  const bool on = isVisible() && TrayState() == TTrayState::Idle && ChkRecordAudio->isChecked();
  TickSoundRow(*MicRow, on);
  TickSoundRow(*DesktopRow, on);
  if (!isVisible()) MeterTimer->stop();
}

void TFrmMain::ShowSoundLevels(const std::string& levels) {
  if (SoundLevels().toStdString() != levels) MnuStatus->setStatusTip(QString::fromStdString(levels));
}

QString TFrmMain::SoundLevels() const { return MnuStatus->statusTip(); }

void TFrmMain::ChkSameAreaClick() {
  bool enabled = !ChkSameArea->isChecked();
  for (QWidget* widget : std::initializer_list<QWidget*>{CboFrameSize, EdtFrameWidth, EdtFrameHeight, LblFrameSize,
                                                         LblFrameWidth, LblFrameHeight, ChkKeepProportions})
    widget->setEnabled(enabled);
}

void TFrmMain::BuildFormatControls() {
  CboFormat = Named(new QComboBox, "CboFormat");
  for (TOutputFormat format : kOutputFormats) CboFormat->addItem(QString::fromStdString(FormatTitle(format)));
  CboQuality = Combo("CboQuality", {"High", "Medium", "Low"});
  CboQuality->setToolTip("H.264 keeps a constant quality; the bit rate follows from what the screen shows");
  CboFrameRate = Named(new QComboBox, "CboFrameRate");
  for (int fps : kFrameRates) CboFrameRate->addItem(QString::number(fps) + " fps");
  LblFormatHint = Label("LblFormatHint", "MKV is recommended: it plays up to about the last second even when the "
                                         "recording is cut off, and H.264 makes small files.");
  LblFormatHint->setWordWrap(true);
  // Its two lines are kept: a squeezed layout would cut them.
  LblFormatHint->setMinimumHeight(2 * LblFormatHint->fontMetrics().lineSpacing());
}

TOutputFormat TFrmMain::ChosenFormat() const {
  const int index = CboFormat->currentIndex();
  return index >= 0 && index < int(std::size(kOutputFormats)) ? kOutputFormats[index] : TOutputFormat::Avi;
}

int TFrmMain::SampleRateIndex() const {
  const int index = CboAudioSampleRate->currentIndex();
  return index >= 0 ? index : SampleRateChoice;
}

void TFrmMain::ShowFormatControls() {
  const TOutputFormat format = ChosenFormat();
  const bool h264 = UsesH264(format);
  CboVideoBitrate->setEnabled(!h264);
  CboQuality->setEnabled(h264);
  // A format whose sound takes one rate whatever is asked (Opus: 48 kHz) shows that rate, greyed;
  // the choice for the other formats is kept for when one of them is chosen again.
  const int low = SoundSampleRate(format, 22050), high = SoundSampleRate(format, 44100);
  const bool fixed = low == high;
  if (fixed && CboAudioSampleRate->currentIndex() >= 0) SampleRateChoice = CboAudioSampleRate->currentIndex();
  CboAudioSampleRate->setPlaceholderText(fixed ? QString::number(high) + " Hz" : QString());
  CboAudioSampleRate->setCurrentIndex(fixed ? -1 : SampleRateChoice);
  CboAudioSampleRate->setEnabled(!fixed);
  RdbAutoSave->setText(QString::fromLatin1(kAutoSaveCaption) + QString::fromStdString(FormatName(format)));
  ShowAudioBitrate();
}

void TFrmMain::ShowAudioBitrate() {
  if (CboAudioSampleRate->currentIndex() >= 0) SampleRateChoice = CboAudioSampleRate->currentIndex();
  const int sampleRate = NumberBeforeUnit(CboAudioSampleRate->itemText(SampleRateIndex()).toStdString(), 3, 0);
  CboAudioBitrate->clear();
  const int kbps = (SoundBitsPerSecond(ChosenFormat(), sampleRate) + 500) / 1000;
  CboAudioBitrate->addItem(QString::number(kbps) + " Kbps");
}

void TFrmMain::CboFrameSizeChange() {
  QString text = CboFrameSize->currentText();
  if (text == "Custom...") return;
  int at = text.indexOf(" x ");
  if (at < 0) return;
  // Filling both boxes must not let the first one's change pick an item from a half-updated pair.
  const QSignalBlocker blockWidth(EdtFrameWidth);
  const QSignalBlocker blockHeight(EdtFrameHeight);
  EdtFrameWidth->SetText(text.left(at));
  EdtFrameHeight->SetText(text.mid(at + 3));
}

void TFrmMain::EdtFrameWidthChange() {
  // Selecting from code runs no activation handler, so the boxes are not rewritten from here.
  int index = CboFrameSize->findText(EdtFrameWidth->Text() + " x " + EdtFrameHeight->Text(), Qt::MatchExactly);
  CboFrameSize->setCurrentIndex(index >= 0 ? index : kCustomFrameSize);
}

void TFrmMain::EdtFrameHeightChange() { EdtFrameWidthChange(); }

void TFrmMain::EdtFrameWidthExit() {
  if (!EdtFrameWidth->Text().isEmpty()) return;
  EdtFrameWidth->SetText("0");
  ShowMessageBox(this, "Please enter a valid frame width.", "Quorvane", TMessageIcon::Error);
  EdtFrameWidth->setFocus();
}

void TFrmMain::EdtFrameHeightExit() {
  if (!EdtFrameHeight->Text().isEmpty()) return;
  EdtFrameHeight->SetText("0");
  ShowMessageBox(this, "Please enter a valid frame height.", "Quorvane", TMessageIcon::Error);
  EdtFrameHeight->setFocus();
}

}  // namespace qv
