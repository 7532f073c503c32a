// The shell's modal message boxes and tray balloons. Every one is also written to standard error,
// so a message seen on a desktop nobody watches (a session start, a test run) can still be read
// afterwards.
#pragma once

#include <functional>
#include <string>

class QSystemTrayIcon;
class QWidget;

namespace qv {

enum class TMessageIcon { Information, Warning, Error };

struct TMessageBoxInfo {
  std::string Text;
  std::string Caption;
  TMessageIcon Icon;
  bool Balloon = false;
};

void ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, TMessageIcon icon);
// A balloon from the tray icon, for news the user did not ask for (a recording that stopped by
// itself); a message box over `parent` where the tray cannot show one.
void ShowBalloon(QSystemTrayIcon* tray, QWidget* parent, const std::string& text, const std::string& caption,
                 TMessageIcon icon);

// While a hook is set, boxes and balloons go to it instead of the screen (for code that drives the windows
// without a person in front of them). Returns the previous hook.
using TMessageBoxHook = std::function<void(const TMessageBoxInfo&)>;
TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook);

}  // namespace qv
