// The shell's modal message boxes. Every box is also written to standard error, so a message seen
// on a desktop nobody watches (a session start, a test run) can still be read afterwards.
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace qv {

enum class TMessageIcon { Information, Warning, Error };

struct TMessageBoxInfo {
  std::string Text;
  std::string Caption;
  TMessageIcon Icon;
};

void ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, TMessageIcon icon);

// While a hook is set, boxes go to it instead of the screen (for code that drives the windows
// without a person in front of them). Returns the previous hook.
using TMessageBoxHook = std::function<void(const TMessageBoxInfo&)>;
TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook);

}  // namespace qv
