// The shell's modal message boxes, and the hook that notices (notices.h) share with them. Every
// box and notice is also logged (shell_log.h), so a message seen on a desktop nobody watches (a
// session start, a test run) can still be read afterwards.
#pragma once

#include <QMessageBox>
#include <functional>
#include <string>

class QWidget;

namespace qv {

enum class TMessageIcon { Information, Warning, Error };

struct TMessageBoxInfo {
  std::string Text;
  std::string Caption;
  TMessageIcon Icon;
  bool Balloon = false;  // a notice that waits for nobody, not a box
};

void ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, TMessageIcon icon);

// A question with the given buttons, over `parent` (modal to that window only, and waited for by
// nobody: hotkeys and recordings go on while it stands); `answered` gets the button chosen (Escape:
// the one that calls the question off). Not handed to the hook: the answer decides what becomes of
// the user's work.
void AskMessageBox(QWidget* parent, const std::string& text, const std::string& caption,
                   QMessageBox::StandardButtons buttons, QMessageBox::StandardButton preferred,
                   std::function<void(QMessageBox::StandardButton)> answered);

// Logs a box's or a notice's text as "[caption] text" ("[balloon: caption] text" for a notice) and
// hands it to the hook; false when no hook took it and it is to be shown.
bool LogAndHook(const TMessageBoxInfo& info);

// While a hook is set, boxes and notices go to it instead of the screen (for code that drives the
// windows without a person in front of them). Returns the previous hook.
using TMessageBoxHook = std::function<void(const TMessageBoxInfo&)>;
TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook);

}  // namespace qv
