// The options window's choice of key labels in the recording. It says plainly what ends up in the
// pictures: whoever watches a recording sees what the labels show.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <cstdlib>

#include "app/frm_main.h"
#include "capture/key_overlay.h"

namespace qv {

namespace {

constexpr const char* kCombinationsShown =
    "Drawn into the recording (not on the screen): key combinations with Ctrl, Alt or Super, and keys such as "
    "Enter, Esc, Backspace, the arrows and the F-keys. Plain typed text is never shown. Nothing is drawn "
    "while the recording is paused.";
constexpr const char* kEverythingShown =
    "Drawn into the recording (not on the screen): every key pressed, including the text you type, "
    "passwords too. Nothing is drawn while the recording is paused.";
constexpr const char* kKeysOnWayland =
    "Not available on Wayland: the desktop lets no program read the keys pressed in other programs, nor "
    "follow the pointer over them.";

// Under a Wayland compositor the X server (Xwayland) sees only the keys typed into its own clients.
bool OnWayland() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return wayland && *wayland;
}

}  // namespace

QGroupBox* TFrmMain::KeysGroup() {
  auto* group = new QGroupBox("Keys and Pointer in the Recording");
  group->setObjectName("GrpKeys");
  ChkShowKeys = new QCheckBox("Show keys pressed");
  ChkShowKeys->setObjectName("ChkShowKeys");
  CboKeysShown = new QComboBox;
  CboKeysShown->setObjectName("CboKeysShown");
  CboKeysShown->addItem("Only combinations and special keys");
  CboKeysShown->addItem("Every key, typed text too");
  CboKeysCorner = new QComboBox;
  CboKeysCorner->setObjectName("CboKeysCorner");
  for (const char* corner : {"Bottom left", "Bottom right", "Top left", "Top right"}) CboKeysCorner->addItem(corner);
  ChkSpotlight = new QCheckBox("Spotlight the pointer while it moves (and stronger click rings)");
  ChkSpotlight->setObjectName("ChkSpotlight");
  LblKeysShown = new QLabel;
  LblKeysShown->setObjectName("LblKeysShown");
  LblKeysShown->setWordWrap(true);
  auto* grid = new QGridLayout(group);
  grid->addWidget(ChkShowKeys, 0, 0);
  grid->addWidget(CboKeysShown, 0, 1);
  grid->addWidget(CboKeysCorner, 0, 2);
  grid->addWidget(LblKeysShown, 1, 0, 1, 3);
  grid->addWidget(ChkSpotlight, 2, 0, 1, 3);
  grid->setColumnStretch(1, 1);
  connect(ChkShowKeys, &QCheckBox::toggled, this, [this] { ShowKeysControls(); });
  connect(CboKeysShown, &QComboBox::currentIndexChanged, this, [this] { ShowKeysControls(); });
  ShowKeysControls();
  return group;
}

void TFrmMain::ShowKeysControls() {
  if (OnWayland()) {
    for (QWidget* control :
         std::initializer_list<QWidget*>{ChkShowKeys, CboKeysShown, CboKeysCorner, ChkSpotlight})
      control->setEnabled(false);
    LblKeysShown->setText(kKeysOnWayland);
    return;
  }
  CboKeysShown->setEnabled(ChkShowKeys->isChecked());
  CboKeysCorner->setEnabled(ChkShowKeys->isChecked());
  const bool everything = CboKeysShown->currentIndex() == static_cast<int>(TKeysMode::Everything) - 1;
  LblKeysShown->setText(everything ? kEverythingShown : kCombinationsShown);
}

}  // namespace qv
