// A GIF with a palette made for its own pictures: a first run over the pictures writes the palette
// (palettegen) to a file of its own, the second codes the pictures with it (paletteuse, dithered).
// A fixed palette of 256 colours smears a screen's gradients and anti-aliased text; one made from
// the recording keeps them.
#pragma once

#include <string>

namespace qv {

// The output option lines ("name=value", as the encoder component's ExtOptions) of the two runs.
struct TGifPasses {
  std::string PaletteOptions;  // writes the palette as a one-picture PNG
  std::string PictureOptions;  // writes the GIF
};

// True when `output` is a GIF whose pictures are coded here (not copied) and whose options leave
// the palette to the program (no pixel format of their own).
bool WantsOwnPalette(const std::string& output, const std::string& outputOptions);

// `outputOptions`' own picture filters come first in both runs, so the palette is made from the
// very pictures it codes. `paletteFile` needs no quoting inside a filter chain (see TPaletteFile).
TGifPasses PlanGifPasses(const std::string& outputOptions, const std::string& paletteFile,
                         const std::string& dither = "sierra2_4a");

// A private folder for the palette, removed with what is in it when this goes.
class TPaletteFile {
 public:
  TPaletteFile();
  ~TPaletteFile();
  TPaletteFile(const TPaletteFile&) = delete;
  TPaletteFile& operator=(const TPaletteFile&) = delete;
  bool Ok() const { return !Path.empty(); }
  const std::string& FileName() const { return Path; }

 private:
  std::string Folder, Path;
};

}  // namespace qv
