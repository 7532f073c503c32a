#include "app/hotkey_text.h"

#include <cctype>
#include <iterator>

namespace qv {

namespace {

struct TKeyName {
  int Key;
  const char* Name;
};
constexpr TKeyName kOtherNamedKeys[] = {{kVkPrint, "Print"}, {kVkPause, "Pause"}, {kVkScrollLock, "ScrollLock"}};

bool IsCharKey(int key) { return (key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z'); }

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string NameOf(int key) {
  if (IsFunctionKey(key)) return "F" + std::to_string(key - 111);
  for (const TKeyName& named : kOtherNamedKeys)
    if (named.Key == key) return named.Name;
  return {};
}

// 0 for anything that is not the name of a key that may stand alone.
int NamedKeyOf(const std::string& upper) {
  for (int key = kVkF1; key <= kVkF12; ++key)
    if (Upper(NameOf(key)) == upper) return key;
  for (const TKeyName& named : kOtherNamedKeys)
    if (Upper(named.Name) == upper) return named.Key;
  return 0;
}

unsigned ModifierOf(const std::string& upper) {
  if (upper == "CTRL") return kModControl;
  if (upper == "SHIFT") return kModShift;
  if (upper == "ALT") return kModAlt;
  if (upper == "SUPER" || upper == "META") return kModSuper;
  return 0;
}

}  // namespace

bool IsNamedKey(int key) { return !NameOf(key).empty(); }

std::string HotkeyTextAfterKeyDown(int key, const THeldModifiers& held) {
  std::string text;
  if (held.Ctrl) text = "Ctrl+";
  if (held.Shift) text += "Shift+";
  if (held.Alt) text += "Alt+";
  if (held.Super) text += "Super+";
  if (IsCharKey(key)) {
    if (!text.empty()) text += char(key);
  } else {
    text += NameOf(key);
  }
  return text;
}

std::string HotkeyTextAfterKeyUp(const std::string& text, int key) {
  if (!text.empty() && text.back() == '+') return {};
  if (text.find('+') == std::string::npos && !IsNamedKey(key)) return {};
  return text;
}

bool IsNoHotkey(const std::string& text) { return text.empty() || text == "None"; }

bool ParseHotkey(const std::string& text, THotkey& hotkey) {
  THotkey result;
  std::string rest = Upper(text);
  for (;;) {
    size_t plus = rest.find('+');
    if (plus == std::string::npos || plus + 1 == rest.size()) break;
    unsigned bit = ModifierOf(rest.substr(0, plus));
    if (bit == 0 || (result.Modifiers & bit)) return false;
    result.Modifiers |= bit;
    rest.erase(0, plus + 1);
  }
  if (rest.size() == 1 && IsCharKey(rest[0])) {
    if (result.Modifiers == 0) return false;
    result.Key = rest[0];
  } else {
    result.Key = NamedKeyOf(rest);
    if (result.Key == 0) return false;
  }
  hotkey = result;
  return true;
}

std::string PortalTrigger(const std::string& text) {
  THotkey hotkey;
  if (!ParseHotkey(text, hotkey)) return {};
  std::string trigger;
  if (hotkey.Modifiers & kModControl) trigger += "CTRL+";
  if (hotkey.Modifiers & kModShift) trigger += "SHIFT+";
  if (hotkey.Modifiers & kModAlt) trigger += "ALT+";
  if (hotkey.Modifiers & kModSuper) trigger += "LOGO+";
  if (IsCharKey(hotkey.Key)) return trigger + char(std::tolower(hotkey.Key));
  return trigger + (hotkey.Key == kVkScrollLock ? "Scroll_Lock" : NameOf(hotkey.Key));
}

}  // namespace qv
