#include "capture/label_font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>

namespace qv {

namespace {

FT_Library Lib(void* p) { return static_cast<FT_Library>(p); }
FT_Face FaceOf(void* p) { return static_cast<FT_Face>(p); }

// The code points of UTF-8 text; a broken sequence counts as U+FFFD.
std::vector<std::uint32_t> CodePoints(const std::string& text) {
  std::vector<std::uint32_t> out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const int extra = lead < 0x80 ? 0 : lead >= 0xf0 ? 3 : lead >= 0xe0 ? 2 : lead >= 0xc0 ? 1 : -1;
    if (extra < 0 || i + std::size_t(extra) + 1 > text.size()) {
      out.push_back(0xfffd);
      ++i;
      continue;
    }
    std::uint32_t c = extra == 0 ? lead : lead & (0x3f >> extra);
    for (int k = 1; k <= extra; ++k) c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3f);
    out.push_back(c);
    i += std::size_t(extra) + 1;
  }
  return out;
}

// The file and face index fontconfig finds for a family at a pixel size; false when none.
bool MatchFace(const std::string& family, int pixelSize, std::string& file, int& index, std::string& chosen) {
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family.empty() ? "sans-serif" : family.c_str()));
  if (!pattern) return false;
  FcPatternAddDouble(pattern, FC_PIXEL_SIZE, pixelSize);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return false;
  FcChar8* path = nullptr;
  FcChar8* name = nullptr;
  const bool found = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch;
  if (found) file = reinterpret_cast<const char*>(path);
  if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
  if (FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch) chosen = reinterpret_cast<const char*>(name);
  FcPatternDestroy(match);
  return found;
}

}  // namespace

std::unique_ptr<TLabelFont> TLabelFont::Open(const std::string& family, int pixelSize, std::string& error) {
  std::string file;
  int index = 0;
  std::unique_ptr<TLabelFont> font(new TLabelFont);
  if (!MatchFace(family, pixelSize, file, index, font->Family)) {
    error = "no font matches \"" + family + "\"";
    return nullptr;
  }
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) {
    error = "FreeType cannot start";
    return nullptr;
  }
  font->Library = library;
  FT_Face face = nullptr;
  if (FT_New_Face(library, file.c_str(), index, &face) != 0 || FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixelSize)) != 0) {
    error = "the font file " + file + " cannot be read";
    return nullptr;
  }
  font->Face = face;
  font->Size = pixelSize;
  font->Ascent = int(face->size->metrics.ascender >> 6);
  font->Descent = int(-face->size->metrics.descender >> 6);
  return font;
}

TLabelFont::~TLabelFont() {
  if (Face) FT_Done_Face(FaceOf(Face));
  if (Library) FT_Done_FreeType(Lib(Library));
}

TTextMask TLabelFont::Render(const std::string& text) const {
  FT_Face face = FaceOf(Face);
  const std::vector<std::uint32_t> chars = CodePoints(text);
  // Two passes: the width first, then the glyphs into a mask of that width.
  TTextMask mask;
  mask.Height = LineHeight();
  for (int pass = 0; pass < 2; ++pass) {
    int penX = 0;
    for (std::uint32_t c : chars) {
      const FT_UInt glyph = FT_Get_Char_Index(face, c);
      if (glyph == 0 || FT_Load_Glyph(face, glyph, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) != 0) continue;
      const FT_GlyphSlot slot = face->glyph;
      if (pass == 1) {
        const FT_Bitmap& bitmap = slot->bitmap;
        for (unsigned row = 0; row < bitmap.rows; ++row) {
          const int y = Ascent - slot->bitmap_top + int(row);
          if (y < 0 || y >= mask.Height) continue;
          for (unsigned col = 0; col < bitmap.width; ++col) {
            const int x = penX + slot->bitmap_left + int(col);
            if (x < 0 || x >= mask.Width) continue;
            std::uint8_t& to = mask.Alpha[std::size_t(y) * std::size_t(mask.Width) + std::size_t(x)];
            to = std::max(to, bitmap.buffer[std::ptrdiff_t(row) * bitmap.pitch + col]);
          }
        }
      }
      penX += int((slot->advance.x + 32) >> 6);
    }
    if (pass == 0) {
      mask.Width = std::max(penX, 1);
      mask.Alpha.assign(std::size_t(mask.Width) * std::size_t(mask.Height), 0);
    }
  }
  return mask;
}

}  // namespace qv
