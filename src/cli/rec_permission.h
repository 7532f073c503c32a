// quorvane-rec's kept permission to share the screen: the restore token the desktop's screen portal
// gave at the last recording, one file per desktop in the state folder, so the next recording on
// that desktop is not asked about again.
#pragma once

#include <string>

namespace qv {

// "$XDG_STATE_HOME/Quorvane/screen-permission-<desktop>" (XDG_STATE_HOME defaults to
// ~/.local/state; the desktop is XDG_CURRENT_DESKTOP's first name, lower case, "unknown" without one).
std::string ScreenPermissionFile();

// The kept token; "" when there is none.
std::string KeptScreenPermission();
// Keeps `token` (its folder made as needed); an empty one forgets. "" or the error in words.
std::string KeepScreenPermission(const std::string& token);

}  // namespace qv
