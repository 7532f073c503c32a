// Hotkey texts come from a settings file the user may edit by hand. Whatever parses must be a hotkey
// the boxes could have produced, and the boxes' own text for it must read back as the same hotkey.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/hotkey_text.h"
#include "fuzz_support.h"

namespace {

bool IsCharKey(int key) { return (key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte plays a key for the box functions; the rest is the text.
  const int key = size > 0 ? data[0] : 0;
  const std::string text = size > 0 ? std::string(reinterpret_cast<const char*>(data) + 1, size - 1) : std::string();

  const std::string afterUp = qv::HotkeyTextAfterKeyUp(text, key);
  QV_FUZZ_CHECK(afterUp.empty() || afterUp == text);

  qv::THotkey hotkey;
  if (!qv::ParseHotkey(text, hotkey)) return 0;
  QV_FUZZ_CHECK(!qv::IsNoHotkey(text));
  QV_FUZZ_CHECK((hotkey.Modifiers & ~(qv::kModAlt | qv::kModControl | qv::kModShift | qv::kModSuper)) == 0);
  QV_FUZZ_CHECK(qv::IsNamedKey(hotkey.Key) || (IsCharKey(hotkey.Key) && hotkey.Modifiers != 0));

  qv::THeldModifiers held;
  held.Ctrl = hotkey.Modifiers & qv::kModControl;
  held.Shift = hotkey.Modifiers & qv::kModShift;
  held.Alt = hotkey.Modifiers & qv::kModAlt;
  held.Super = hotkey.Modifiers & qv::kModSuper;
  const std::string shown = qv::HotkeyTextAfterKeyDown(hotkey.Key, held);
  qv::THotkey again;
  QV_FUZZ_CHECK(qv::ParseHotkey(shown, again));
  QV_FUZZ_CHECK(again.Key == hotkey.Key && again.Modifiers == hotkey.Modifiers);
  return 0;
}
