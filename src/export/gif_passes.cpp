#include "export/gif_passes.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "encoder/ext_options.h"

namespace qv {

namespace {

bool IsFilterOption(const std::string& name) { return name == "vf" || name == "vfilters"; }

// The lines without the picture filters, which come back as `filters` (empty when none).
std::string WithoutFilters(const std::string& options, std::string& filters) {
  std::string kept;
  for (const TOptionLine& l : ParseOptionText(options)) {
    if (IsFilterOption(l.Key)) {
      filters = l.Value;
      continue;
    }
    kept += l.Key + "=" + l.Value + "\n";
  }
  return kept;
}

bool EndsWithGif(const std::string& name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".gif";
}

// Characters a filter chain reads as its own (separators, quotes, escapes) stay out of the path.
bool PlainInFilterChain(const std::string& path) {
  for (unsigned char c : path)
    if (!(std::isalnum(c) || c == '/' || c == '_' || c == '-' || c == '.')) return false;
  return true;
}

}  // namespace

bool WantsOwnPalette(const std::string& output, const std::string& outputOptions) {
  bool gif = EndsWithGif(output);
  for (const TOptionLine& l : ParseOptionText(outputOptions)) {
    if (l.Key == "f") gif = l.Value == "gif";
    if (l.Key == "pix_fmt" || (l.Key == "vcodec" && l.Value != "gif") || l.Key == "vn") return false;
  }
  return gif;
}

TGifPasses PlanGifPasses(const std::string& outputOptions, const std::string& paletteFile, const std::string& dither) {
  std::string filters;
  const std::string kept = WithoutFilters(outputOptions, filters);
  const std::string chain = filters.empty() ? "" : filters + ",";
  TGifPasses passes;
  passes.PaletteOptions = kept + "an=\nvcodec=png\nf=image2\nupdate=1\nvf=" + chain + "palettegen\n";
  passes.PictureOptions = kept + "pix_fmt=pal8\nvf=[in]" + chain + "null[pictures];movie=" + paletteFile +
                          "[palette];[pictures][palette]paletteuse=dither=" + dither + "[out]\n";
  return passes;
}

TPaletteFile::TPaletteFile() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp && PlainInFilterChain(tmp) ? tmp : "/tmp";
  std::string pattern = base + "/quorvane-palette-XXXXXX";
  if (!mkdtemp(pattern.data())) return;
  Folder = pattern;
  Path = Folder + "/palette.png";
}

TPaletteFile::~TPaletteFile() {
  if (Folder.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(Folder, ignored);
}

}  // namespace qv
