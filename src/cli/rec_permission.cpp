#include "cli/rec_permission.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace qv {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// A desktop's tokens mean nothing to another's portal (GNOME and sway on one machine).
std::string DesktopName() {
  std::string name = Env("XDG_CURRENT_DESKTOP");
  name = name.substr(0, name.find(':'));
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? char(std::tolower(static_cast<unsigned char>(c))) : '-';
  return name.empty() ? "unknown" : name;
}

}  // namespace

std::string ScreenPermissionFile(bool window) {
  std::string state = Env("XDG_STATE_HOME");
  if (state.empty() || state[0] != '/') {
    const std::string home = Env("HOME");
    if (home.empty()) return "";
    state = home + "/.local/state";
  }
  return state + "/Quorvane/screen-permission-" + DesktopName() + (window ? "-window" : "");
}

std::string KeptScreenPermission(bool window) {
  std::ifstream in(ScreenPermissionFile(window));
  std::string token;
  std::getline(in, token);
  return token;
}

std::string KeepScreenPermission(const std::string& token, bool window) {
  const std::filesystem::path file = ScreenPermissionFile(window);
  if (file.empty()) return "no home folder to keep it in";
  std::error_code error;
  if (token.empty()) {
    std::filesystem::remove(file, error);
    return error ? error.message() : "";
  }
  std::filesystem::create_directories(file.parent_path(), error);
  // Written aside and renamed over: a recording ended mid-write never leaves half a token.
  const std::filesystem::path part = file.string() + ".part";
  {
    std::ofstream out(part, std::ios::trunc);
    out << token << '\n';
    if (!out.flush()) return "cannot write " + part.string();
  }
  std::filesystem::permissions(part, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, error);
  std::filesystem::rename(part, file, error);
  return error ? error.message() : "";
}

}  // namespace qv
