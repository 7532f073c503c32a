// Start of a run: metadata maps, chapter maps and the automatic copies of global, stream and
// chapter metadata from the inputs to the outputs.
#include "engine/custom_ffmpeg.h"
#include "media/checked_math.h"

namespace qv {

namespace {

// The dictionary a map side names; raises when the index is out of range.
AVDictionary** MetadataOf(AVFormatContext* ctx, const TMetadataMapSide& side, const char* fileWhat) {
  (void)fileWhat;
  switch (side.Kind) {
    case 'g':
      return &ctx->metadata;
    case 's':
      if (side.Index < 0 || unsigned(side.Index) >= ctx->nb_streams)
        RaiseFFmpegFmt("Invalid %s index %d while processing metadata maps", "stream", side.Index);
      return &ctx->streams[side.Index]->metadata;
    case 'c':
      if (side.Index < 0 || unsigned(side.Index) >= ctx->nb_chapters)
        RaiseFFmpegFmt("Invalid %s index %d while processing metadata maps", "chapter", side.Index);
      return &ctx->chapters[side.Index]->metadata;
    case 'p':
      if (side.Index < 0 || unsigned(side.Index) >= ctx->nb_programs)
        RaiseFFmpegFmt("Invalid %s index %d while processing metadata maps", "program", side.Index);
      return &ctx->programs[side.Index]->metadata;
    default:
      return &ctx->metadata;
  }
}

void AddChapter(AVFormatContext* os, const AVChapter* in, std::int64_t start, std::int64_t end, bool copyMeta) {
  // The chapter becomes the context's once it is in its list; until then it is ours.
  TAvMemPtr<AVChapter> owned(static_cast<AVChapter*>(ff::av_mallocz(sizeof(AVChapter))));
  if (!owned) RaiseFFmpeg("av_mallocz fail");
  AVChapter* ch = owned.get();
  ch->id = in->id;
  ch->time_base = in->time_base;
  ch->start = start;
  ch->end = end;
  TDictPtr metadata;
  if (copyMeta) ff::av_dict_copy(InOut(metadata), in->metadata, 0);
  auto* list = static_cast<AVChapter**>(ff::av_realloc(os->chapters, sizeof(AVChapter*) * (os->nb_chapters + 1)));
  if (!list) RaiseFFmpeg("av_realloc fail");
  os->chapters = list;
  ch->metadata = metadata.release();
  os->chapters[os->nb_chapters++] = owned.release();
}

}  // namespace

void TCustomFFmpeg::MapMetadataAndChapters() {
  // Explicit metadata maps.
  for (const TMetadataMap& m : Opt.MetadataMaps) {
    if (m.Out.File < 0 || m.Out.File >= OutputCount())
      RaiseFFmpegFmt("Invalid %s index %d while processing metadata maps", "output file", m.Out.File);
    if (m.In.File < 0 || m.In.File >= InputCount())
      RaiseFFmpegFmt("Invalid %s index %d while processing metadata maps", "input file", m.In.File);
    AVDictionary** dst = MetadataOf(Output(m.Out.File).Ctx, m.Out, "output file");
    AVDictionary** src = MetadataOf(Input(m.In.File).Context(), m.In, "input file");
    ff::av_dict_copy(dst, *src, AV_DICT_DONT_OVERWRITE);
  }
  // Automatic copies: global metadata of the first input, stream metadata of each source.
  if (Opt.MetadataGlobalAutocopy && InputCount() > 0)
    for (int k = 0; k < OutputCount(); ++k)
      if (Output(k).Owner) ff::av_dict_copy(&Output(k).Ctx->metadata, Input(0).Context()->metadata, AV_DICT_DONT_OVERWRITE);
  if (Opt.MetadataStreamsAutocopy)
    for (auto& ost : Ost)
      if (!JoinMode || ost.FileIndex == 0)
        ff::av_dict_copy(&ost.St->metadata, Ist[size_t(ost.SourceIndex)].St->metadata, AV_DICT_DONT_OVERWRITE);

  // Chapters.
  auto copyChapters = [&](int inFile, int outFile) {
    AVFormatContext* is = Input(inFile).Context();
    AVFormatContext* os = Output(outFile).Ctx;
    for (unsigned c = 0; c < is->nb_chapters; ++c) {
      const AVChapter* in = is->chapters[c];
      std::int64_t tsOff =
          ff::av_rescale_q(SubtractTimestamps(StartTimeUs, Input(inFile).InputTsOffset), AVRational{1, AV_TIME_BASE}, in->time_base);
      std::int64_t limit = RecordingTimeUs == kNoLimitTime
                               ? INT64_MAX
                               : ff::av_rescale_q(RecordingTimeUs, AVRational{1, AV_TIME_BASE}, in->time_base);
      if (in->end < tsOff) continue;
      if (limit != INT64_MAX && in->start > AddTimestamps(tsOff, limit)) break;
      std::int64_t start = std::max<std::int64_t>(0, SubtractTimestamps(in->start, tsOff));
      std::int64_t end = std::min(limit, SubtractTimestamps(in->end, tsOff));
      AddChapter(os, in, start, end, Opt.MetadataChaptersAutocopy);
    }
  };
  if (!Opt.ChapterMaps.empty()) {
    for (const TChapterMap& m : Opt.ChapterMaps) {
      if (m.InFile < 0 || m.InFile >= InputCount()) RaiseFFmpegFmt("Invalid input file index %d in chapter mapping.", m.InFile);
      if (m.OutFile < 0 || m.OutFile >= OutputCount())
        RaiseFFmpegFmt("Invalid output file index %d in chapter mapping.", m.OutFile);
      copyChapters(m.InFile, m.OutFile);
    }
  } else {
    for (int f = 0; f < InputCount(); ++f) {
      if (!Input(f).Context() || Input(f).Context()->nb_chapters == 0) continue;
      for (int k = 0; k < OutputCount(); ++k)
        if (Output(k).Owner) copyChapters(f, k);
      break;
    }
  }
}

}  // namespace qv
