// The program's entry sequence, apart from main() so tests can reach its pieces.
#pragma once

namespace qv {

// Single instance, settings file present, options window with tray icon and hotkeys, then the
// event loop with the window hidden. Returns the process exit code.
int RunQuorvane(int argc, char** argv);

}  // namespace qv
