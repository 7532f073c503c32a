// The hotkeys where no program may grab keys (a Wayland session): bound through the desktop's
// global shortcuts portal where it has one, and in any case the remote control's commands shown
// ready to be bound to keys in the desktop's own keyboard settings.
#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <array>
#include <cstdlib>
#include <map>
#include <vector>

#include "app/form_widgets.h"
#include "app/frm_main.h"
#include "app/global_shortcuts.h"
#include "app/hotkey_text.h"
#include "app/shell_log.h"

namespace qv {

namespace {

// The portal's names of the four hotkeys, in the order start, stop, pause, resume.
constexpr const char* kShortcutIds[4] = {"start", "stop", "pause", "resume"};

struct TCommandRow {
  const char* Caption;
  const char* Argument;
};
constexpr TCommandRow kCommandRows[] = {{"Start or stop", "--toggle"},
                                        {"Start Recording", "--start"},
                                        {"Stop Recording", "--stop"},
                                        {"Pause Recording", "--pause"},
                                        {"Resume Recording", "--resume"}};

// Where the desktop binds a command to keys; XDG_CURRENT_DESKTOP names it ("ubuntu:GNOME").
std::string WhereToBind() {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  const std::string names = desktop ? desktop : "";
  if (names.find("GNOME") != std::string::npos)
    return "in Settings \u2192 Keyboard \u2192 View and Customize Shortcuts \u2192 Custom Shortcuts (+): a name, "
           "the command, then the keys";
  if (names.find("KDE") != std::string::npos)
    return "in System Settings \u2192 Keyboard \u2192 Shortcuts \u2192 Add New \u2192 Command or Script: the "
           "command, then the keys";
  if (names.find("sway") != std::string::npos)
    return "in sway's config, as \"bindsym Ctrl+Shift+F9 exec COMMAND\"";
  return "in the desktop's keyboard settings, as a custom shortcut that runs a command";
}

// The program's own path, quoted for a desktop that splits the command as a shell would.
QString ProgramCommand(const char* argument) {
  QString path = QCoreApplication::applicationFilePath();
  if (path.contains(QRegularExpression("[^A-Za-z0-9_./+-]"))) path = "'" + path.replace("'", "'\\''") + "'";
  return path + ' ' + QString::fromLatin1(argument);
}

}  // namespace

QWidget* TFrmMain::CommandRows() {
  auto* panel = new QWidget;
  panel->setObjectName("PnlCommands");
  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(0, 0, 0, 0);
  int row = 0;
  for (const TCommandRow& each : kCommandRows) {
    const QString command = ProgramCommand(each.Argument);
    auto* edit = new QLineEdit(command);
    edit->setObjectName(QStringLiteral("EdtCommand%1").arg(each.Argument + 2));
    edit->setReadOnly(true);
    edit->setToolTip(command);
    edit->setCursorPosition(int(command.size()));  // the end, where the commands differ, in sight
    auto* copy = new QPushButton("&Copy");
    copy->setObjectName(QStringLiteral("BtnCopy%1").arg(each.Argument + 2));
    copy->setAutoDefault(false);
    copy->setToolTip("Copy this command, to paste it into the desktop's keyboard settings");
    connect(copy, &QPushButton::clicked, this, [command] { QGuiApplication::clipboard()->setText(command); });
    grid->addWidget(new QLabel(each.Caption), row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(copy, row++, 2);
  }
  grid->setColumnStretch(1, 1);
  return panel;
}

void TFrmMain::UseDesktopShortcuts() {
  const unsigned version = TGlobalShortcuts::PortalVersion();
  std::string why;
  if (version >= 1) {
    why = "Hotkeys are asked of the desktop's global shortcuts (it may ask you to confirm them; its keyboard "
          "settings change them). Or bind a command below to keys " + WhereToBind() + ".";
  } else {
    why = "Hotkeys are not available in this session: Wayland lets no program grab keys, and this desktop has no "
          "global shortcuts portal. Bind a command below to keys " + WhereToBind() + ".";
    // The boxes would only show combinations for an X session; the file keeps them for it.
    for (const char* name : {"StartHotkey", "StopHotkey", "PauseHotkey", "ResumeHotkey"}) {
      findChild<QLabel*>(QString("Lbl") + name)->hide();
      findChild<THotkeyEdit*>(QString("Edt") + name)->hide();
    }
  }
  ShellLog(version >= 1 ? llInfo : llWarning, "[hotkeys] " + why);
  LblHotkeysUnavailable->setText(QString::fromStdString(why));
  LblHotkeysUnavailable->show();
  static_cast<QGridLayout*>(LblHotkeysUnavailable->parentWidget()->layout())->addWidget(CommandRows(), 3, 0, 1, 4);
  for (THotkeyEdit* edit : {EdtStartHotkey, EdtStopHotkey, EdtPauseHotkey, EdtResumeHotkey}) edit->setEnabled(false);
  if (version >= 1) BindDesktopShortcuts();
}

void TFrmMain::BindDesktopShortcuts() {
  const THotkeyEdit* edits[4] = {EdtStartHotkey, EdtStopHotkey, EdtPauseHotkey, EdtResumeHotkey};
  const QAction* items[4] = {MnuStartRecord, MnuStopRecord, MnuPauseRecord, MnuResumeRecord};
  std::vector<TPortalShortcut> wanted;
  for (int i = 0; i < 4; ++i)
    wanted.push_back({kShortcutIds[i], items[i]->text().section('\t', 0, 0).toStdString(),
                      PortalTrigger(edits[i]->text().toStdString())});
  Shortcuts = std::make_unique<TGlobalShortcuts>();
  Shortcuts->OnActivated = [this](const std::string& id) {
    // Out of the bus's delivery first: a start may run a modal loop of its own (the picker).
    for (int i = 0; i < 4; ++i)
      if (id == kShortcutIds[i]) QMetaObject::invokeMethod(this, [this, i] { RunHotkey(i); }, Qt::QueuedConnection);
  };
  Shortcuts->OnBound = [this](const std::map<std::string, std::string>& triggers) {
    std::array<std::string, 4> keys;
    std::string said;
    for (int i = 0; i < 4; ++i) {
      const auto found = triggers.find(kShortcutIds[i]);
      if (found != triggers.end()) keys[i] = found->second;
      said += std::string(said.empty() ? "" : ", ") + kShortcutIds[i] + "=" + (keys[i].empty() ? "none" : keys[i]);
    }
    ShellLog(llInfo, "[hotkeys] bound through the desktop's global shortcuts: " + said);
    ShowKeysInMenu(keys);
  };
  Shortcuts->OnFailed = [this](const std::string& why) {
    const std::string told = "The desktop's global shortcuts are not bound: " + why + ".";
    ShellLog(llWarning, "[hotkeys] " + told);
    LblHotkeysUnavailable->setText(QString::fromStdString(told + " Bind a command below to keys " + WhereToBind() + "."));
  };
  Shortcuts->Bind(std::move(wanted));
}

}  // namespace qv
