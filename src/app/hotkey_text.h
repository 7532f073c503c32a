// Hotkey texts as the hotkey boxes show them and the settings file stores them:
// ["Ctrl+"]["Shift+"]["Alt+"]["Super+"] then a digit, a capital letter (only after a modifier) or
// a named key (F1..F12, Print, Pause, ScrollLock), which may also stand alone.
// "" and "None" mean no hotkey. Keys are given as the desktop-neutral codes the boxes work with:
// '0'..'9' = 48..57, 'A'..'Z' = 65..90, F1..F12 = 112..123, Print 44, Pause 19, ScrollLock 145.
#pragma once

#include <string>

namespace qv {

constexpr int kVkShift = 16;
constexpr int kVkControl = 17;
constexpr int kVkMenu = 18;  // Alt
constexpr int kVkPause = 19;
constexpr int kVkEscape = 27;  // never a hotkey text; grabbed while a countdown runs
constexpr int kVkPrint = 44;
constexpr int kVkSuper = 91;
constexpr int kVkF1 = 112;
constexpr int kVkF12 = 123;
constexpr int kVkScrollLock = 145;

constexpr unsigned kModAlt = 1;
constexpr unsigned kModControl = 2;
constexpr unsigned kModShift = 4;
constexpr unsigned kModSuper = 8;

struct THotkey {
  unsigned Modifiers = 0;  // kModAlt | kModControl | kModShift | kModSuper
  int Key = 0;             // 48..57, 65..90 or a named key
};

inline bool IsFunctionKey(int key) { return key >= kVkF1 && key <= kVkF12; }
// Keys with a name of their own (function keys, Print, Pause, ScrollLock); they may stand alone.
bool IsNamedKey(int key);

// The modifiers held while a key goes down.
struct THeldModifiers {
  bool Ctrl = false, Shift = false, Alt = false, Super = false;
};

// The box text after a key goes down with the given modifiers held.
std::string HotkeyTextAfterKeyDown(int key, const THeldModifiers& held);
// The box text after `key` is released.
std::string HotkeyTextAfterKeyUp(const std::string& text, int key);

bool IsNoHotkey(const std::string& text);
// Reads a hotkey text (modifiers in any order and case, as a hand-edited file may hold them;
// "Meta" is read as Super). False for anything that is not a usable hotkey, including a bare
// letter or digit, which would take that key away from every other program.
bool ParseHotkey(const std::string& text, THotkey& hotkey);

// The combination in the notation of the desktop's global shortcuts ("CTRL+SHIFT+F9", "LOGO+r": the
// modifiers' names, then the key's keysym name); "" for a text that is not a usable hotkey.
std::string PortalTrigger(const std::string& text);

}  // namespace qv
