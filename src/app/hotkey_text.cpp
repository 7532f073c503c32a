#include "app/hotkey_text.h"

#include <cctype>

namespace qv {

namespace {

bool IsCharKey(int key) { return (key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z'); }

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string HotkeyTextAfterKeyDown(int key, bool ctrl, bool shift, bool alt) {
  std::string text;
  if (ctrl) text = "Ctrl+";
  if (shift) text += "Shift+";
  if (alt) text += "Alt+";
  if (IsCharKey(key)) {
    if (!text.empty()) text += char(key);
  } else if (IsFunctionKey(key)) {
    text += "F" + std::to_string(key - 111);
  }
  return text;
}

std::string HotkeyTextAfterKeyUp(const std::string& text, int key) {
  if (!text.empty() && text.back() == '+') return {};
  if (text.find('+') == std::string::npos && !IsFunctionKey(key)) return {};
  return text;
}

bool IsNoHotkey(const std::string& text) { return text.empty() || text == "None"; }

bool ParseHotkey(const std::string& text, THotkey& hotkey) {
  THotkey result;
  std::string rest = Upper(text);
  for (;;) {
    size_t plus = rest.find('+');
    if (plus == std::string::npos || plus + 1 == rest.size()) break;
    std::string mod = rest.substr(0, plus);
    unsigned bit = mod == "CTRL" ? kModControl : mod == "SHIFT" ? kModShift : mod == "ALT" ? kModAlt : 0;
    if (bit == 0 || (result.Modifiers & bit)) return false;
    result.Modifiers |= bit;
    rest.erase(0, plus + 1);
  }
  if (rest.size() == 1 && IsCharKey(rest[0])) {
    if (result.Modifiers == 0) return false;
    result.Key = rest[0];
  } else if (rest.size() >= 2 && rest.size() <= 3 && rest[0] == 'F' && std::isdigit(static_cast<unsigned char>(rest[1])) &&
             (rest.size() == 2 || std::isdigit(static_cast<unsigned char>(rest[2])))) {
    int n = std::stoi(rest.substr(1));
    if (n < 1 || n > 12 || rest[1] == '0') return false;
    result.Key = 111 + n;
  } else {
    return false;
  }
  hotkey = result;
  return true;
}

}  // namespace qv
