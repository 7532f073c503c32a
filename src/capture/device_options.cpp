#include "capture/device_options.h"

#include <cctype>
#include <limits>

#include "media/text_utils.h"

namespace qv {

namespace {

bool SameKey(const std::string& key, const char* name) {
  std::size_t i = 0;
  for (; i < key.size() && name[i] != 0; ++i) {
    if (std::tolower(static_cast<unsigned char>(key[i])) != name[i]) return false;
  }
  return i == key.size() && name[i] == 0;
}

std::string ConversionError(const std::string& text) { return "'" + text + "' is not a valid integer value"; }

// "A<sep>B" with both halves strict 32-bit integers; the split is at the first separator.
bool StrictPair(const std::string& value, const char* sep, int& a, int& b, std::string& error) {
  std::string rest = value, head;
  TakeToken(rest, sep, true, head);
  std::int64_t x = 0, y = 0;
  if (!StrictInt(head, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), x)) {
    error = ConversionError(head);
    return false;
  }
  if (!StrictInt(rest, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), y)) {
    error = ConversionError(rest);
    return false;
  }
  a = static_cast<int>(x);
  b = static_cast<int>(y);
  return true;
}

bool WithinBounds(int a, int b, int low, std::string& error, const char* what) {
  if (a >= low && a <= kMaxCaptureSide && b >= low && b <= kMaxCaptureSide) return true;
  error = "Invalid properties: " + std::string(what) + " " + std::to_string(a) + "," + std::to_string(b) +
          " is outside " + std::to_string(low) + ".." + std::to_string(kMaxCaptureSide);
  return false;
}

std::intptr_t SessionNumber(const std::string& value) {
  return static_cast<std::intptr_t>(
      IntOrDefault(value, std::numeric_limits<std::intptr_t>::min(), std::numeric_limits<std::intptr_t>::max(), 0));
}

int FlagOrOne(const std::string& value) { return static_cast<int>(IntOrDefault(value, INT32_MIN, INT32_MAX, 1)); }

int IntOr(const std::string& value, int fallback) {
  return static_cast<int>(IntOrDefault(value, INT32_MIN, INT32_MAX, fallback));
}

// Walks the segments; `visit(key, value, rest)` sees each one with `rest` still holding the segment
// (so a key may claim the remainder) and returns false to stop.
template <typename Visit>
bool ForEachSegment(const std::string& text, Visit visit) {
  std::string rest = text.substr(0, text.find('\0'));
  std::string segment, key;
  while (!rest.empty()) {
    TakeToken(rest, ";", false, segment);
    std::string value = segment;
    const bool hasValue = segment.find('=') != std::string::npos;
    TakeToken(value, "=", true, key);
    int verdict = visit(key, value, rest, hasValue);
    if (verdict <= 0) return verdict == 0;
    TakeToken(rest, ";", true, segment);
  }
  return true;
}

// Label and source may hold anything, the segment's separators included.
std::string Escaped(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    if (ch == '%' || ch == ';' || ch == ',' || ch == '\0') {
      out += '%';
      out += kHex[(static_cast<unsigned char>(ch) >> 4) & 15];
      out += kHex[static_cast<unsigned char>(ch) & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

std::string Unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool ParseMixInput(const std::string& value, TWaveMixInputOptions& input, std::string& error) {
  std::string rest = value, field;
  std::string fields[4];
  for (std::string& f : fields) {
    if (rest.find(',') == std::string::npos) {
      error = "Invalid sound source '" + value + "': volume,muted,watch,label,source expected";
      return false;
    }
    TakeToken(rest, ",", true, f);
  }
  std::int64_t volume = 0;
  if (!StrictInt(fields[0], 0, 200, volume)) {
    error = "Invalid volume '" + fields[0] + "': 0 to 200 percent";
    return false;
  }
  input.Volume = static_cast<int>(volume);
  input.Muted = IntOr(fields[1], 0) != 0;
  input.WatchSilence = IntOr(fields[2], 0) != 0;
  input.Label = Unescaped(fields[3]);
  input.Source = Unescaped(rest);
  return true;
}

}  // namespace

std::string MixInputOption(const TWaveMixInputOptions& input) {
  return "in=" + std::to_string(input.Volume) + "," + (input.Muted ? "1" : "0") + "," +
         (input.WatchSilence ? "1" : "0") + "," + Escaped(input.Label) + "," + Escaped(input.Source);
}

bool ParseScreenCaptureOptions(const std::string& text, TScreenCaptureOptions& o, std::string& error) {
  error.clear();
  // 1 = go on, 0 = stop (success), -1 = stop (failure).
  const bool ok = ForEachSegment(text, [&](const std::string& key, const std::string& value, const std::string& rest,
                                           bool hasValue) -> int {
    if (SameKey(key, "title")) {
      // A title may hold ";" and "=": it takes everything after the first "=", so it is always last.
      o.HasTitle = true;
      o.Title = hasValue ? rest.substr(rest.find('=') + 1) : std::string();
      return 0;
    }
    if (SameKey(key, "hwnd")) {
      o.Window = static_cast<std::uint32_t>(IntOrDefault(value, 0, UINT32_MAX, 0));
    } else if (SameKey(key, "offset")) {
      if (!StrictPair(value, ",", o.OffsetX, o.OffsetY, error) ||
          !WithinBounds(o.OffsetX, o.OffsetY, -kMaxCaptureSide, error, "offset"))
        return -1;
      o.HasOffset = true;
    } else if (SameKey(key, "framesize")) {
      if (!StrictPair(value, ",", o.Width, o.Height, error) || !WithinBounds(o.Width, o.Height, 0, error, "framesize"))
        return -1;
      o.HasFrameSize = true;
    } else if (SameKey(key, "framerate")) {
      if (!StrictPair(value, "/", o.RateNum, o.RateDen, error)) return -1;
      o.HasFrameRate = true;
    } else if (SameKey(key, "showframe")) {
      o.ShowFrame = FlagOrOne(value);
    } else if (SameKey(key, "client")) {
      o.ClientOnly = FlagOrOne(value);
    } else if (SameKey(key, "cursor")) {
      o.DrawCursor = FlagOrOne(value);
    } else if (SameKey(key, "skipunchanged")) {
      o.SkipUnchanged = FlagOrOne(value);
    } else if (SameKey(key, "showclicks")) {
      o.ShowClicks = FlagOrOne(value);
    } else if (SameKey(key, "spotlight")) {
      o.Spotlight = FlagOrOne(value);
    } else if (SameKey(key, "showkeys")) {
      o.ShowKeys = static_cast<int>(IntOrDefault(value, 0, 2, 1));
    } else if (SameKey(key, "keyscorner")) {
      o.KeysCorner = static_cast<int>(IntOrDefault(value, 0, 3, 0));
    } else if (SameKey(key, "keysfont")) {
      o.KeysFont = value;
    } else if (SameKey(key, "session")) {
      o.Session = SessionNumber(value);
    } else if (SameKey(key, "node")) {
      o.Node = static_cast<std::uint32_t>(IntOrDefault(value, 0, UINT32_MAX, 0));
    } else if (SameKey(key, "portalwindow")) {
      o.PortalWindow = FlagOrOne(value);
    }
    return 1;
  });
  return ok;
}

bool ParseWaveCaptureOptions(const std::string& text, TWaveCaptureOptions& o, std::string& error) {
  error.clear();
  ForEachSegment(text, [&](const std::string& key, const std::string& value, const std::string& rest, bool) -> int {
    if (SameKey(key, "source")) {
      o.Source = rest.substr(rest.find('=') + 1);
      return 0;
    }
    if (SameKey(key, "i")) o.DeviceId = IntOr(value, -1);
    else if (SameKey(key, "r")) o.SampleRate = IntOr(value, 44100);
    else if (SameKey(key, "c")) o.Channels = IntOr(value, 2);
    else if (SameKey(key, "f")) o.BitsPerSample = IntOr(value, 16);
    else if (SameKey(key, "bufsize")) o.BufferSize = IntOr(value, 4096);
    else if (SameKey(key, "session") || SameKey(key, "pause_pointer")) o.Session = SessionNumber(value);
    return 1;
  });
  return true;
}

bool ParseWaveMixOptions(const std::string& text, TWaveMixOptions& o, std::string& error) {
  ParseWaveCaptureOptions(text, o.Common, error);
  return ForEachSegment(text, [&](const std::string& key, const std::string& value, const std::string&, bool) -> int {
    if (!SameKey(key, "in")) return 1;
    TWaveMixInputOptions input;
    if (!ParseMixInput(value, input, error)) return -1;
    o.Inputs.push_back(input);
    return 1;
  });
}

}  // namespace qv
