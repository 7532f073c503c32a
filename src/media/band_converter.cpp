#include "media/band_converter.h"

#include <algorithm>

#include "media/ff_api.h"
#include "media/row_pair_converter.h"

namespace qv {

namespace {

// Band heights are rounded up to this many rows, so a few contexts serve every band.
constexpr int kRowStep = 16;
constexpr size_t kMaxScalers = 8;
// How far the scaler's vertical filters reach, in rows: the rows written around a change, and the
// rows converted around those and then left out.
constexpr int kMarginRows = 8;

// Rows of plane `plane` that `row` of the picture starts in.
int PlaneRow(int row, int plane, int chromaShift) { return plane == 1 || plane == 2 ? row >> chromaShift : row; }
// The end of the rows of plane `plane` that rows up to `row` of the picture reach into.
int PlaneRowsEnd(int row, int plane, int chromaShift) {
  return plane == 1 || plane == 2 ? (row + (1 << chromaShift) - 1) >> chromaShift : row;
}

}  // namespace

std::vector<TRowBand> TBandConverter::WholeChromaRows(const std::vector<TRowBand>& bands, int height) const {
  const int align = RowAlign();
  const int margin = MarginRows();
  std::vector<TRowBand> out;
  for (TRowBand b : bands) {
    // The vertical chroma filter carries a change into the rows next to it.
    b.Top = std::clamp((b.Top - margin) / align * align, 0, height);
    b.Bottom += margin;
    const int rows = (b.Bottom - b.Top + kRowStep - 1) / kRowStep * kRowStep;
    b.Bottom = std::min(height, b.Top + std::max(rows, align));
    if (b.Top >= b.Bottom) continue;
    if (!out.empty() && b.Top <= out.back().Bottom) out.back().Bottom = std::max(out.back().Bottom, b.Bottom);
    else out.push_back(b);
  }
  return out;
}

SwsContext* TBandConverter::ScalerFor(int rows) {
  auto it = Scalers.find(rows);
  if (it != Scalers.end()) return it->second.get();
  if (Scalers.size() >= kMaxScalers) Scalers.erase(Scalers.begin());
  TScalerPtr made(ff::sws_getContext(Width, rows, AVPixelFormat(SrcFormat), Width, rows, AVPixelFormat(DstFormat), Flags,
                                     nullptr, nullptr, nullptr));
  if (!made) return nullptr;
  return Scalers.emplace(rows, std::move(made)).first->second.get();
}

// The band as a picture of its own (both pictures' planes entered at its first row), with some rows
// around it, into the scratch picture; then the band's own rows go to `dst`. The scaler's vertical
// chroma filter sees the band's true neighbours, so the rows come out as a whole-picture conversion
// makes them.
bool TBandConverter::ConvertBand(const AVFrame* src, AVFrame* dst, const TRowBand& band) {
  const int margin = MarginRows();
  const TRowBand outer{std::max(0, band.Top - margin), std::min(src->height, band.Bottom + margin)};
  SwsContext* scaler = ScalerFor(outer.Bottom - outer.Top);
  if (!scaler) return false;
  const std::uint8_t* from[4] = {};
  for (int p = 0; p < 4; ++p)
    if (src->data[p])
      from[p] = src->data[p] + std::ptrdiff_t(PlaneRow(outer.Top, p, SrcChromaShift)) * src->linesize[p];
  ff::sws_scale(scaler, from, src->linesize, 0, outer.Bottom - outer.Top, Scratch->data, Scratch->linesize);
  for (int p = 0; p < 4 && dst->data[p]; ++p) {
    const int skip = PlaneRow(band.Top, p, DstChromaShift) - PlaneRow(outer.Top, p, DstChromaShift);
    const int top = PlaneRow(band.Top, p, DstChromaShift);
    const int rows = PlaneRowsEnd(band.Bottom, p, DstChromaShift) - top;
    ff::av_image_copy_plane(dst->data[p] + std::ptrdiff_t(top) * dst->linesize[p], dst->linesize[p],
                            Scratch->data[p] + std::ptrdiff_t(skip) * Scratch->linesize[p], Scratch->linesize[p],
                            std::min(dst->linesize[p], Scratch->linesize[p]), rows);
  }
  return true;
}

int TBandConverter::MarginRows() const { return (kMarginRows + RowAlign() - 1) / RowAlign() * RowAlign(); }

bool TBandConverter::NewLayout(const AVFrame* src, const AVFrame* dst, int flags) {
  Scalers.clear();
  Width = src->width;
  SrcFormat = src->format;
  DstFormat = dst->format;
  Flags = flags;
  Scratch.reset(ff::av_frame_alloc());
  if (!Scratch) return false;
  Scratch->width = dst->width;
  Scratch->height = dst->height;
  Scratch->format = dst->format;
  return ff::av_frame_get_buffer(Scratch.get(), 0) >= 0;
}

bool TBandConverter::Convert(const AVFrame* src, AVFrame* dst, const std::vector<TRowBand>& bands, int flags) {
  const AVPixFmtDescriptor* in = ff::av_pix_fmt_desc_get(AVPixelFormat(src->format));
  const AVPixFmtDescriptor* out = ff::av_pix_fmt_desc_get(AVPixelFormat(dst->format));
  if (!in || !out || (in->flags & AV_PIX_FMT_FLAG_PAL) || src->width != dst->width || src->height != dst->height)
    return false;
  if (RowPairConversionApplies(src, dst, flags)) {
    ConvertRowPairBands(src, dst, bands);
    return true;
  }
  if (src->width != Width || src->format != SrcFormat || dst->format != DstFormat || flags != Flags || !Scratch ||
      Scratch->height != dst->height) {
    SrcChromaShift = in->log2_chroma_h;
    DstChromaShift = out->log2_chroma_h;
    if (!NewLayout(src, dst, flags)) {
      Width = 0;  // tried again with the next picture
      return false;
    }
  }
  const std::vector<TRowBand> rows = WholeChromaRows(bands, src->height);
  int count = 0;
  for (const TRowBand& b : rows) count += b.Bottom - b.Top;
  // Most of the picture: one call over all of it costs less than several.
  if (count * 5 > src->height * 3) return false;
  for (const TRowBand& b : rows)
    if (!ConvertBand(src, dst, b)) return false;  // the whole picture then overwrites what was done
  return true;
}

// Each band widened to whole row pairs; nothing around them is needed.
void TBandConverter::ConvertRowPairBands(const AVFrame* src, AVFrame* dst, const std::vector<TRowBand>& bands) {
  for (const TRowBand& b : bands) {
    const int top = std::clamp(b.Top & ~1, 0, src->height);
    const int bottom = std::min(src->height, (b.Bottom + 1) & ~1);
    if (top < bottom) ConvertRowPairs(src, dst, top, bottom);
  }
}

void ConvertWholePicture(SwsContext* whole, const AVFrame* src, AVFrame* dst, int flags) {
  if (RowPairConversionApplies(src, dst, flags)) ConvertRowPairs(src, dst, 0, src->height);
  else ff::sws_scale(whole, src->data, src->linesize, 0, src->height, dst->data, dst->linesize);
}

}  // namespace qv
