#include "capture/key_labels.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cctype>

namespace qv {

namespace {

// The code point a keysym types, or 0 when it types none. Latin-1 keysyms are their code points;
// keysyms from 0x1000000 up carry any other one.
std::uint32_t CodePointOf(unsigned long keysym) {
  if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff)) return std::uint32_t(keysym);
  if (keysym >= 0x1000100 && keysym <= 0x110ffff) return std::uint32_t(keysym - 0x1000000);
  return 0;
}

std::string Utf8(std::uint32_t c) {
  std::string out;
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xc0 | c >> 6);
    out += char(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += char(0xe0 | c >> 12);
    out += char(0x80 | (c >> 6 & 0x3f));
    out += char(0x80 | (c & 0x3f));
  } else {
    out += char(0xf0 | c >> 18);
    out += char(0x80 | (c >> 12 & 0x3f));
    out += char(0x80 | (c >> 6 & 0x3f));
    out += char(0x80 | (c & 0x3f));
  }
  return out;
}

struct TNamedKey {
  unsigned long Keysym;
  const char* Name;
};

constexpr TNamedKey kNamedKeys[] = {
    {XK_BackSpace, "Backspace"}, {XK_Return, "Enter"},       {XK_KP_Enter, "Enter"},   {XK_Escape, "Esc"},
    {XK_Tab, "Tab"},             {XK_ISO_Left_Tab, "Tab"},   {XK_Delete, "Delete"},    {XK_Insert, "Insert"},
    {XK_Home, "Home"},           {XK_End, "End"},            {XK_Prior, "Page Up"},    {XK_Next, "Page Down"},
    {XK_Left, "Left"},           {XK_Right, "Right"},        {XK_Up, "Up"},            {XK_Down, "Down"},
    {XK_Caps_Lock, "Caps Lock"}, {XK_Num_Lock, "Num Lock"},  {XK_Print, "Print"},      {XK_Menu, "Menu"},
    {XK_Pause, "Pause"},         {XK_space, "Space"},
};

// A key's name on a label: its own name, its character (a letter in capitals, as keyboards print
// it), or X's name for it.
std::string KeyName(unsigned long keysym) {
  for (const TNamedKey& key : kNamedKeys)
    if (key.Keysym == keysym) return key.Name;
  if (keysym >= XK_F1 && keysym <= XK_F35) return "F" + std::to_string(keysym - XK_F1 + 1);
  if (const std::uint32_t c = CodePointOf(keysym)) return Utf8(c < 0x80 ? std::uint32_t(std::toupper(int(c))) : c);
  const char* name = XKeysymToString(keysym);
  return name ? name : "?";
}

std::string Prefix(unsigned modifiers) {
  std::string text;
  if (modifiers & kHeldCtrl) text += "Ctrl+";
  if (modifiers & kHeldAlt) text += "Alt+";
  if (modifiers & kHeldShift) text += "Shift+";
  if (modifiers & kHeldSuper) text += "Super+";
  return text;
}

// Drops whole characters from the front until at most `count` are left.
void KeepLastCharacters(std::string& text, std::size_t count) {
  std::size_t chars = 0;
  for (std::size_t i = text.size(); i-- > 0;) {
    if ((text[i] & 0xc0) == 0x80) continue;  // inside a character: its first byte comes
    if (++chars == count) {
      text.erase(0, i);
      return;
    }
  }
}

}  // namespace

bool IsModifierKey(unsigned long keysym) {
  switch (keysym) {
    case XK_Shift_L: case XK_Shift_R: case XK_Control_L: case XK_Control_R: case XK_Alt_L: case XK_Alt_R:
    case XK_Meta_L: case XK_Meta_R: case XK_Super_L: case XK_Super_R: case XK_Hyper_L: case XK_Hyper_R:
    case XK_ISO_Level3_Shift: case XK_ISO_Level5_Shift: case XK_Mode_switch:
      return true;
    default:
      return false;
  }
}

bool KeyStrokeOf(unsigned long keysym, unsigned long shifted, unsigned modifiers, TKeyStroke& stroke) {
  // A key the keymap has no symbol for (one remapped for a moment by a typing tool) says nothing.
  if (IsModifierKey(keysym) || keysym == NoSymbol) return false;
  const bool chord = modifiers & (kHeldCtrl | kHeldAlt | kHeldSuper);
  const std::uint32_t typed = CodePointOf(shifted);
  if (!chord && typed) {
    stroke = TKeyStroke{Utf8(typed), true};
    return true;
  }
  // Shift is part of a chord's name; with a plain key it only chose the character.
  stroke = TKeyStroke{Prefix(modifiers) + KeyName(keysym), false};
  return true;
}

void TKeyLabels::Press(const TKeyStroke& stroke, std::int64_t nowUs) {
  if (stroke.Typed && Mode == TKeysMode::Combinations) return;
  if (StrengthAt(nowUs) == 0) Labels.clear();
  TLabel* last = Labels.empty() ? nullptr : &Labels.back();
  if (last && stroke.Typed && last->Stroke.Typed) {
    last->Stroke.Name += stroke.Name;
    KeepLastCharacters(last->Stroke.Name, kMaxTyped);
  } else if (last && !stroke.Typed && last->Stroke.Name == stroke.Name) {
    ++last->Count;
  } else {
    Labels.push_back(TLabel{stroke});
    if (Labels.size() > kMaxLabels) Labels.erase(Labels.begin());
  }
  LastUs = nowUs;
  ++Changes;
}

int TKeyLabels::StrengthAt(std::int64_t nowUs) const {
  if (Labels.empty()) return 0;
  const std::int64_t age = nowUs - LastUs;
  if (age <= kShownUs) return 255;
  if (age >= kShownUs + kFadeUs) return 0;
  return static_cast<int>(255 - (age - kShownUs) * 255 / kFadeUs);
}

bool TKeyLabels::Advance(std::int64_t nowUs) {
  const int strength = StrengthAt(nowUs);
  if (strength == 0) Labels.clear();
  const bool due = strength != Shown || (strength > 0 && Changes != DrawnChanges);
  Shown = strength;
  DrawnChanges = Changes;
  return due;
}

void TKeyLabels::Clear() {
  Labels.clear();
  ++Changes;
}

std::vector<std::string> TKeyLabels::Texts() const {
  std::vector<std::string> texts;
  if (Shown == 0) return texts;
  for (const TLabel& label : Labels)
    texts.push_back(label.Count > 1 ? label.Stroke.Name + " \u00d7" + std::to_string(label.Count) : label.Stroke.Name);
  return texts;
}

}  // namespace qv
