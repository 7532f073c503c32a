// Key presses shown in recorded frames: what a press reads as ("Ctrl+Shift+T", "Backspace", a typed
// "h"), and the few labels the recent presses make, with their fading. Pure text and timing, so it
// can be checked without a display; TInputWatch (input_watch.h) feeds the presses from the X server
// and TKeyOverlay (key_overlay.h) draws the labels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

// What is shown: by default only what cannot give away typed text (chords with Ctrl, Alt or Super,
// and keys such as Enter, Esc, the arrows, the F-keys); or everything, typed text gathered.
enum class TKeysMode { Combinations = 1, Everything = 2 };

// Modifiers held at a press, as bits.
enum TKeyModifier : unsigned { kHeldCtrl = 1, kHeldShift = 2, kHeldAlt = 4, kHeldSuper = 8 };

struct TKeyStroke {
  std::string Name;    // the label's text: "Ctrl+Shift+T", "Backspace", or the typed character
  bool Typed = false;  // a character typed as text (gathered with the ones next to it)
};

// True when the key is a modifier of its own (it shows only with the key it modifies).
bool IsModifierKey(unsigned long keysym);
// The stroke a press of `keysym` (the key's own symbol, without Shift) makes, `shifted` being what
// it types with the modifiers held; false for a modifier key or a key without a symbol.
bool KeyStrokeOf(unsigned long keysym, unsigned long shifted, unsigned modifiers, TKeyStroke& stroke);

// Threads: owned by the thread that reads the screen device; nothing here is shared.
class TKeyLabels {
 public:
  static constexpr std::int64_t kShownUs = 1500000;  // after the last press, at full strength
  static constexpr std::int64_t kFadeUs = 250000;    // then fading out over this
  static constexpr std::size_t kMaxLabels = 3;       // the newest; older ones leave
  static constexpr std::size_t kMaxTyped = 24;       // characters kept of a typed run (the last ones)

  explicit TKeyLabels(TKeysMode mode) : Mode(mode) {}
  void Press(const TKeyStroke& stroke, std::int64_t nowUs);
  // Moves on to the slot at `nowUs`. True when the labels look different from those in the last
  // picture (new text, a fading step, or gone); each call assumes that picture is made then.
  bool Advance(std::int64_t nowUs);
  void Clear();
  // The labels' texts, oldest first, and their strength (255 full, 0 gone), as of the last Advance.
  std::vector<std::string> Texts() const;
  int Strength() const { return Shown; }
  // Grows with every change of the texts: a drawer keeps its label images while it holds.
  std::uint64_t Version() const { return Changes; }

 private:
  struct TLabel {
    TKeyStroke Stroke;
    int Count = 1;
  };
  int StrengthAt(std::int64_t nowUs) const;

  TKeysMode Mode;
  std::vector<TLabel> Labels;
  std::int64_t LastUs = 0;
  std::uint64_t Changes = 0;
  std::uint64_t DrawnChanges = 0;
  int Shown = 0;  // the strength in the last picture
};

}  // namespace qv
