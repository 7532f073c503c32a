// Start of a run: the input and output stream tables, the mapping of output streams to their
// sources, the "Stream mapping:" log, and the teardown of the run records.
#include "engine/custom_ffmpeg.h"
#include "media/ff_utils.h"

namespace qv {

namespace {

std::string KindName(AVMediaType t) { return MediaTypeName(int(t)); }

}  // namespace

void TCustomFFmpeg::SetupRun() {
  Ist.clear();
  Ost.clear();
  IFiles.clear();
  VideoSize = AudioSize = ExtraSize = 0;
  NbFramesDup = NbFramesDrop = 0;
  ConvertCpuUs = CodingCpuUs = 0;
  DrainEndUs = kNoLimitTime;
  DupDropChanged = false;
  std::fill(std::begin(QpHistogram), std::end(QpHistogram), 0);
  InputHookActive = bool(OnVideoInputHook);
  OutputHookActive = bool(OnVideoOutputHook);
  LastPreviewTime = 0;
  PausedUs = 0;
  StartTimeUs = Opt.StartTime;
  RecordingTimeUs = Opt.RecordingTime;
  if (RecordingTimeUs != kNoLimitTime && !JoinMode) TotalDuration = RecordingTimeUs;

  // One record per stream of every input.
  for (int f = 0; f < InputCount(); ++f) {
    TInputFile& in = Input(f);
    AVFormatContext* ic = in.Context();
    TInputFileState fs;
    fs.IstIndex = int(Ist.size());
    fs.NbStreams = ic ? int(ic->nb_streams) : 0;
    IFiles.push_back(fs);
    for (int s = 0; s < fs.NbStreams; ++s) {
      TInputStream ist;
      ist.FileIndex = f;
      ist.StreamIndex = s;
      ist.St = ic->streams[s];
      const AVCodec* byName = size_t(s) < in.Decoders.size() ? in.Decoders[size_t(s)] : nullptr;
      ist.Dec = byName ? byName : ff::avcodec_find_decoder(ist.St->codecpar->codec_id);
      ist.DecCtx = size_t(s) < in.DecoderContexts.size() ? in.DecoderContexts[size_t(s)].get() : nullptr;
      if (Opt.RateEmu) ist.WallStart = ff::av_gettime_relative();
      Ist.push_back(std::move(ist));
    }
  }

  MapStreams();
  SetupCodecParameters();
  OpenCodecs();

  // Timestamps of every input stream start over.
  for (auto& ist : Ist) {
    AVRational fr = ist.St->avg_frame_rate;
    int delay = ist.DecCtx ? ist.DecCtx->has_b_frames : 0;
    ist.Pts = fr.num && fr.den ? -std::int64_t(delay) * AV_TIME_BASE * fr.den / fr.num : 0;
    ist.NextPts = AV_NOPTS_VALUE;
    NewPtsCorrection(ist.PtsCorr);
    ist.IsStart = true;
  }

  MapMetadataAndChapters();
  WriteHeaders();
  if (Opt.Verbose >= 0) DumpStreamMapping();
}

void TCustomFFmpeg::MapStreams() {
  // Every output needs a stream unless its format carries none.
  int total = 0;
  for (int k = 0; k < OutputCount(); ++k) {
    TOutputFile& out = Output(k);
    if (out.Streams.empty() && out.Owner && !(out.Ctx->oformat->flags & AVFMT_NOSTREAMS)) {
      ff::av_dump_format(out.Ctx, k, out.FileName.c_str(), 1);
      RaiseFFmpegFmt("Output file #%d does not contain any stream", k);
    }
    total += int(out.Streams.size());
  }
  const int perSegment = OutputCount() > 0 ? int(Output(0).Streams.size()) : 0;
  if (!Opt.StreamMaps.empty() && int(Opt.StreamMaps.size()) != total)
    RaiseFFmpeg("Number of stream maps must match number of output streams");

  int n = 0;  // output stream number over all outputs (the map index)
  for (int k = 0; k < OutputCount(); ++k) {
    TOutputFile& out = Output(k);
    for (size_t j = 0; j < out.Streams.size(); ++j, ++n) {
      TOutputStreamInfo& info = out.Streams[j];
      TOutputStream ost;
      ost.FileIndex = k;
      ost.Index = int(j);
      ost.St = info.St;
      ost.Info = &info;
      ost.Codec = info.Codec;
      // Join slots borrow the encoder of the first slot's stream at the same place.
      ost.Enc = info.Enc ? info.Enc.get()
                         : (JoinMode && k > 0 && j < Output(0).Streams.size() ? Output(0).Streams[j].Enc.get() : nullptr);
      if (JoinMode && k > 0 && j < Output(0).Streams.size()) ost.Codec = Output(0).Streams[j].Codec;
      const AVMediaType kind = info.Kind;
      if (!Opt.StreamMaps.empty()) {
        const TStreamMap& m = Opt.StreamMaps[size_t(n)];
        if (m.FileIndex < 0 || m.FileIndex >= InputCount() || m.StreamIndex < 0 ||
            m.StreamIndex >= IFiles[size_t(m.FileIndex)].NbStreams)
          RaiseFFmpegFmt("Could not find input stream #%d.%d", m.FileIndex, m.StreamIndex);
        if (m.SyncFileIndex < 0 || m.SyncFileIndex >= InputCount() || m.SyncStreamIndex < 0 ||
            m.SyncStreamIndex >= IFiles[size_t(m.SyncFileIndex)].NbStreams)
          RaiseFFmpegFmt("Could not find sync stream #%d.%d", m.SyncFileIndex, m.SyncStreamIndex);
        ost.SourceIndex = IFiles[size_t(m.FileIndex)].IstIndex + m.StreamIndex;
        ost.SyncIndex = IFiles[size_t(m.SyncFileIndex)].IstIndex + m.SyncStreamIndex;
        AVMediaType found = Ist[size_t(ost.SourceIndex)].St->codecpar->codec_type;
        if (found != kind)
          RaiseFFmpegFmt("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)", m.FileIndex, m.StreamIndex,
                         KindName(found).c_str(), k, int(j), KindName(kind).c_str());
      } else {
        // The unused stream of the right kind with the most probe frames; with a program id only
        // inside that program; in join mode only in the input of this slot.
        const int onlyFile = JoinMode && perSegment > 0 ? k : -1;
        int best = -1;
        std::int64_t bestFrames = -1;
        for (size_t i = 0; i < Ist.size(); ++i) {
          TInputStream& ist = Ist[i];
          if (!ist.Discard || ist.St->discard == AVDISCARD_ALL || ist.St->codecpar->codec_type != kind) continue;
          if (onlyFile >= 0 && ist.FileIndex != onlyFile) continue;
          if (Opt.OptProgramId) {
            AVFormatContext* ic = Input(ist.FileIndex).Context();
            bool inProgram = false;
            for (unsigned p = 0; p < ic->nb_programs && !inProgram; ++p) {
              if (ic->programs[p]->id != Opt.OptProgramId) continue;
              for (unsigned q = 0; q < ic->programs[p]->nb_stream_indexes; ++q)
                if (int(ic->programs[p]->stream_index[q]) == ist.StreamIndex) inProgram = true;
            }
            if (!inProgram) continue;
          }
          // Probe frame counts are private to current libavformat: its own pick of the best stream of
          // a kind (made from those counts) ranks first, then the frames the container declares.
          AVFormatContext* ic = Input(ist.FileIndex).Context();
          const bool libraryPick = ic->iformat && ff::av_find_best_stream(ic, kind, -1, -1, nullptr, 0) == ist.StreamIndex;
          std::int64_t frames = (libraryPick ? (std::int64_t(1) << 40) : 0) + std::max<std::int64_t>(0, ist.St->nb_frames);
          if (frames > bestFrames) {
            bestFrames = frames;
            best = int(i);
          }
        }
        if (best < 0 && !Opt.OptProgramId && onlyFile < 0)
          for (size_t i = 0; i < Ist.size() && best < 0; ++i)
            if (Ist[i].St->discard != AVDISCARD_ALL && Ist[i].St->codecpar->codec_type == kind) best = int(i);
        if (best < 0)
          RaiseFFmpegFmt("Could not find input stream matching output stream #%d.%d (%s)", k, int(j),
                         KindName(kind).c_str());
        ost.SourceIndex = ost.SyncIndex = best;
      }
      Ist[size_t(ost.SourceIndex)].Discard = false;
      Ost.push_back(std::move(ost));
    }
  }
}

void TCustomFFmpeg::DumpStreamMapping() {
  std::string text = "Stream mapping:";
  for (const auto& ost : Ost) {
    if (ost.SourceIndex < 0) continue;
    const TInputStream& src = Ist[size_t(ost.SourceIndex)];
    text += Format("\n  Stream #%d.%d -> #%d.%d (%s)", src.FileIndex, src.StreamIndex, ost.FileIndex, ost.Index,
                   KindName(src.St->codecpar->codec_type).c_str());
    if (ost.SyncIndex >= 0 && ost.SyncIndex != ost.SourceIndex) {
      const TInputStream& sync = Ist[size_t(ost.SyncIndex)];
      text += Format(" [sync #%d.%d (%s)]", sync.FileIndex, sync.StreamIndex, KindName(sync.St->codecpar->codec_type).c_str());
    }
  }
  Log(llInfo, text);
}

void TCustomFFmpeg::FreeRunRecords() {
  // The records own their library objects; the codecs are closed through the open lists.
  Ost.clear();
  Ist.clear();
  IFiles.clear();
}

}  // namespace qv
