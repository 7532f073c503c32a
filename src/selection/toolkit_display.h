// The toolkit's own Xlib connection, for the few requests the selection forms make behind its
// back (grabs, the screenshot, the outline window). Main thread only.
#pragma once

struct _XDisplay;

namespace qv {

// nullptr when the toolkit does not run on X.
_XDisplay* ToolkitDisplay();

}  // namespace qv
