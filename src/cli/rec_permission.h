// quorvane-rec's kept permission to share the screen: the restore token the desktop's screen portal
// gave at the last recording, one file per desktop in the state folder, so the next recording on
// that desktop is not asked about again.
#pragma once

#include <string>

namespace qv {

// "$XDG_STATE_HOME/Quorvane/screen-permission-<desktop>" (XDG_STATE_HOME defaults to
// ~/.local/state; the desktop is XDG_CURRENT_DESKTOP's first name, lower case, "unknown" without one),
// with "-window" for the permission to share a window: a monitor's would not be honoured for one.
std::string ScreenPermissionFile(bool window = false);

// The kept token; "" when there is none.
std::string KeptScreenPermission(bool window);
// Keeps `token` (its folder made as needed); an empty one forgets. "" or the error in words.
std::string KeepScreenPermission(const std::string& token, bool window);

}  // namespace qv
