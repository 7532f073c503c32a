// The key labels drawn into recorded frames: rounded dark labels with light text in a row at one
// corner of the area, sized after the area's height, fading with TKeyLabels.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/key_labels.h"
#include "capture/label_font.h"
#include "capture/screen_capture_cursor.h"
#include "media/changed_rows.h"

namespace qv {

enum class TKeysCorner { BottomLeft = 0, BottomRight = 1, TopLeft = 2, TopRight = 3 };

// What a recording shows of the keys pressed, when it shows them.
struct TKeysChoice {
  TKeysMode Mode = TKeysMode::Combinations;
  TKeysCorner Corner = TKeysCorner::BottomLeft;
  std::string Family;  // the desktop's UI font family; empty: fontconfig's sans-serif
};

// "bottom-left", "bottom-right", "top-left", "top-right", as the command line and the settings
// file write the corners; false for another text.
bool ParseKeysCorner(const std::string& text, TKeysCorner& corner);
const char* KeysCornerName(TKeysCorner corner);
// "combinations" and "all", likewise.
bool ParseKeysMode(const std::string& text, TKeysMode& mode);
const char* KeysModeName(TKeysMode mode);

// Threads: owned by the thread that reads the screen device.
class TKeyOverlay {
 public:
  // The text's pixel size for an area `areaHeight` pixels high.
  static int TextSize(int areaHeight);
  // nullptr when no font can be had (`error` says why); the recording then goes on without labels.
  static std::unique_ptr<TKeyOverlay> Create(TKeysMode mode, TKeysCorner corner, const std::string& family,
                                             int areaHeight, std::string& error);

  TKeyLabels& Labels() { return Keys; }
  const TLabelFont& Font() const { return *FontFace; }
  // Draws the labels as of the last Advance into a frame of the area; the rows drawn into (empty
  // when nothing was). Label images are made again only when the texts change.
  TRowBand Draw(const TCursorTarget& target);

 private:
  struct TImage {
    int Width = 0, Height = 0;
    std::vector<unsigned long> Pixels;  // premultiplied ARGB at full strength
  };
  TKeyOverlay(TKeysMode mode, TKeysCorner corner, std::unique_ptr<TLabelFont> font)
      : Keys(mode), Corner(corner), FontFace(std::move(font)) {}
  TImage LabelImage(const std::string& text) const;
  void Rebuild();

  TKeyLabels Keys;
  TKeysCorner Corner;
  std::unique_ptr<TLabelFont> FontFace;
  std::vector<TImage> Images;          // of Keys.Texts(), oldest first
  std::uint64_t ImagesVersion = ~0ull;
  std::vector<unsigned long> Faded;    // a label at less than full strength, reused
};

}  // namespace qv
