// The tray program's own lines ("[hotkeys] ...", what a box or a notice told the user) go through
// the process's logger like every library line. The program's handler writes its own lines to
// standard error as "quorvane: ...", so a session nobody watches can still be read afterwards, and
// every line, the program's and the libraries', into the running recording's log.
#pragma once

#include <string>

#include "media/logger.h"

namespace qv {

class TRecordingLog;

// Logs `text` as the tray program's.
void ShellLog(TLogLevel level, const std::string& text);

// Installs the program's handler; every line also goes to `recording` while one is given. Lines
// are handled on the thread that logs them: the log must not wait for the user interface.
void AttachShellLog(TRecordingLog* recording);

}  // namespace qv
