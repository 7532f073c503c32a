// Paths the shell works with and the capture area chosen for the next recording.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// "$XDG_CONFIG_HOME/Quorvane/Options.ini" (XDG_CONFIG_HOME defaults to ~/.config); empty when
// neither that variable nor the home folder can be resolved. Never cached: the environment decides.
std::string GetOptionsFileName();
// The user's documents folder + "Quorvane/", always with a trailing "/"; empty when unknown.
std::string GetDefaultOutputFolder();
// Where the program keeps what it writes about itself (the recordings' logs):
// "$XDG_STATE_HOME/Quorvane/" (XDG_STATE_HOME defaults to ~/.local/state), with a trailing "/";
// empty when no home folder is known. Never created here.
std::string GetStateFolder();
// The folder of the running program with a trailing "/".
std::string GetProgramFolder();
// Where the media libraries that ship with the program live: program folder + "LibAV".
std::string GetLibraryFolder();
// The settings file the program ships with: program folder + "default-options.ini".
std::string GetPackagedOptionsFileName();
// Makes the settings file `path` (and its folders) from the packaged one, or from the built-in
// defaults when the install has none. False with `error` in words when it cannot be written.
bool CreateOptionsFile(const std::string& path, std::string& error);
// Makes `folder` and its parents unless it is there; false with the system's reason in `error`.
bool CreateFolder(const std::string& folder, std::string& error);
// folder + "/" + name, with exactly one "/" between them.
std::string JoinPath(const std::string& folder, const std::string& name);

// The chosen capture area: "x,y" and "width,height" ("Fail" after an empty region, empty while a
// selection is pending), or the X window id picked with the window finder (0 = none).
extern std::string SelectedOffset;
extern std::string SelectedSize;
extern std::uint64_t SelectedWindow;

}  // namespace qv
