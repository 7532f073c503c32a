// The video path: pre-processing of decoded pictures (the input hook or the frame hooks), the
// frame-rate decision that drops or duplicates pictures, scaling to the encoder's size and format,
// the output hook, the preview, encoding and the per-frame statistics.
#include <cmath>
#include <cstring>
#include <ctime>

#include "engine/custom_ffmpeg.h"
#include "media/checked_math.h"
#include "media/edge_fill.h"
#include "media/ff_utils.h"

namespace qv {

namespace {

constexpr AVRational kMicro{1, AV_TIME_BASE};

// Makes `f` a writable picture of the given layout (reusing its buffer when it is ours alone).
bool PrepareOwnPicture(AVFrame* f, int width, int height, int format) {
  if (f->buf[0] && f->width == width && f->height == height && f->format == format)
    return ff::av_frame_make_writable(f) >= 0;
  ff::av_frame_unref(f);
  f->width = width;
  f->height = height;
  f->format = format;
  return ff::av_frame_get_buffer(f, 0) >= 0;
}

std::int64_t ThreadCpuUs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return std::int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

std::int64_t SlotsIn(const AVCodecContext* enc, std::int64_t us) {
  return ff::av_rescale_q_rnd(us, kMicro, enc->time_base, AV_ROUND_DOWN);
}

// Held slots cost nothing, so the pictures that are coded may lie far apart and the encoder's own
// key-frame interval, which counts coded pictures, would stretch without bound. A key frame is forced
// once that interval has passed in slots, as if every slot were coded (2 s when the encoder has
// none), so seeking stays as quick as the interval asks. A shorter fixed spacing would cost the
// lower bit rates their target: a key frame of a 720p desktop is some 60 KB.
std::int64_t KeyFrameSpacing(const AVCodecContext* enc) {
  return enc->gop_size > 1 ? enc->gop_size : SlotsIn(enc, 2 * AV_TIME_BASE);
}

// A container without empty chunks keeps no trace of held slots until the next picture: a still
// screen would leave a file cut short by a crash with its video seconds behind its sound. The last
// picture is coded again once this long has passed without one; sooner while the encoder still
// holds a picture back (frame threads give a picture out when the next one comes), so a crash never
// loses more than about a second of pictures inside it.
constexpr std::int64_t kRepeatHeldPictureUs = 2 * AV_TIME_BASE;
constexpr std::int64_t kRepeatHeldInEncoderUs = AV_TIME_BASE;

std::int64_t RepeatHeldAfter(const TOutputStream& ost) {
  return SlotsIn(ost.Enc, ost.Load.Sent > ost.Load.Received ? kRepeatHeldInEncoderUs : kRepeatHeldPictureUs);
}

// Only the rows the source says changed, when the converted picture holds the picture before (none
// between them went unconverted) and nothing scaled or painted over it; else all of it. The picture
// goes into its part of the coded frame; what lies beyond it repeats its edge.
void ConvertForEncoder(TOutputStream& ost, const TInputStream& ist, const AVFrame* picture, int flags) {
  AVFrame* out = ost.ResamplePic.get();
  {
    const TTopLeftPart part(out, ost.PictureWidth, ost.PictureHeight);
    const bool follows = ist.HasChangedRows && ost.ConvertedFrame == ist.FrameCount - 1 && picture != ist.HookPic.get();
    if (!follows || !ost.Bands.Convert(picture, out, ist.ChangedRows, flags))
      ConvertWholePicture(ost.ImgResampleCtx.get(), picture, out, flags);
  }
  RepeatEdges(out, ost.PictureWidth, ost.PictureHeight);
  ost.ConvertedFrame = ist.FrameCount;
}

}  // namespace

int TCustomFFmpeg::ScalerFlags() const {
  std::int64_t flags = Opt.SwsFlags;
  if (Store.ScalerContext) ff::av_opt_get_int(Store.ScalerContext, "sws_flags", 0, &flags);
  return int(flags);
}

// An empty video packet: the source's picture did not change in this slot. Nothing is decoded,
// converted or coded; the slot holds the picture before it. An AVI gets an empty chunk for it at
// once (the standard "repeat the last picture", counted in the header's frames, and the sound
// behind it is written without waiting for the next picture); other containers get a variable
// frame rate.
void TCustomFFmpeg::HoldVideoSlot(TInputStream& ist) {
  const int index = int(&ist - Ist.data());
  for (auto& ost : Ost) {
    if (ost.SourceIndex != index || !ost.EncodingNeeded || !ost.EncoderOpen) continue;
    if (JoinMode && ost.FileIndex != ist.FileIndex) continue;
    const TInputStream& sync = ost.SyncIndex >= 0 ? Ist[size_t(ost.SyncIndex)] : ist;
    const std::int64_t slot =
        std::int64_t(std::nearbyint(double(sync.Pts - StartTimeUs) / AV_TIME_BASE / av_q2d(ost.Enc->time_base)));
    if (slot < ost.SyncOpts) continue;
    // A late read skips slots: unchanged ones, which pass all the same.
    const int passed = int(slot + 1 - ost.SyncOpts);
    ost.HoldsSlots = true;
    TOutputFile& of = Output(ost.FileIndex);
    // One slot behind: the last held slot of the recording gets the picture instead (CloseHeldSlots).
    if (ost.HeldSlot >= 0 && WritesEmptyChunks(of, ost)) {
      TPacketPtr pkt = NewPacket();
      pkt->pts = pkt->dts = ost.HeldSlot;
      pkt->duration = 1;
      ff::av_packet_rescale_ts(pkt.get(), ost.Enc->time_base, ost.St->time_base);
      WritePacket(of, ost, pkt.get());
    }
    ost.HeldSlot = slot;
    ost.SyncOpts = slot + 1;
    if (!WritesEmptyChunks(of, ost) && slot - ost.LastCodedSlot >= RepeatHeldAfter(ost))
      RecodeLastPicture(of, ost, ist, slot);
    FollowLoad(of, ost, passed, 0, 0);
  }
}

// Codes the last picture once more for `slot`, which was held.
void TCustomFFmpeg::RecodeLastPicture(TOutputFile& of, TOutputStream& ost, TInputStream& ist, std::int64_t slot) {
  if (!ost.LastPicture || !ost.LastPicture->buf[0] || ost.FrameNumber >= Opt.MaxFrames[0]) return;
  ost.SyncOpts = slot;
  EncodeOnePicture(of, ost, ist, ost.LastPicture.get());
  ost.SyncOpts = slot + 1;
  ++ost.FrameNumber;
}

// Only an encoder that hands out each picture's packet at once keeps the chunks in order.
bool TCustomFFmpeg::WritesEmptyChunks(const TOutputFile& of, const TOutputStream& ost) const {
  return std::strcmp(of.Ctx->oformat->name, "avi") == 0 && !(ost.Enc->codec->capabilities & AV_CODEC_CAP_DELAY);
}

// A reader hands out no held slot after the last picture (and a muxer without empty chunks writes
// them only when a picture follows): the last held slot (or the last before a recording time that
// cut the input off) gets the last picture coded once more, so the video lasts as long as the
// recording for every player.
void TCustomFFmpeg::CloseHeldSlots(TOutputFile& of, TOutputStream& ost, TInputStream& ist) {
  if (!ost.HoldsSlots || !ost.LastPicture || !ost.LastPicture->buf[0]) return;
  std::int64_t end = ost.SyncOpts;
  if (ist.IsPastRecordingTime && RecordingTimeUs != kNoLimitTime)
    end = std::max(end, ff::av_rescale_q_rnd(RecordingTimeUs, kMicro, ost.Enc->time_base, AV_ROUND_UP));
  if (end - 1 > ost.LastCodedSlot) RecodeLastPicture(of, ost, ist, end - 1);
}

void TCustomFFmpeg::PreProcessVideo(TInputStream& ist, AVFrame*& picture) {
  ++ist.FrameCount;
  // Deinterlacing happens in the stream's filter graph; the hooks paint on a copy of their own.
  if (!InputHookActive && FrameHooks.empty()) return;
  if (!ist.HookPic) ist.HookPic = NewFrame();
  AVFrame* own = ist.HookPic.get();
  if (!PrepareOwnPicture(own, picture->width, picture->height, picture->format) ||
      ff::av_frame_copy(own, picture) < 0) {
    Log(llError, "hook buf malloc error.");
    return;
  }
  ff::av_frame_copy_props(own, picture);
  if (InputHookActive) {
    if (!InputConverter) {
      InputConverter = std::make_unique<TFormatConverter>();
      InputConverter->SetBitsPixel(HookBitsPixel);
    }
    RunVideoHook(OnVideoInputHook, InputHookActive, *InputConverter, own, ist.Pts, ist.FrameCount);
  } else if (!FrameHooks.empty()) {
    RunFrameHooks(own, ist.Pts);
  }
  picture = own;
}

bool TCustomFFmpeg::RunVideoHook(const TVideoHookEvent& hook, bool& active, TFormatConverter& conv, AVFrame* picture,
                                 std::int64_t pts, int frameNumber) {
  const AVPixelFormat fmt = AVPixelFormat(picture->format);
  TPicture pic = PictureOf(picture);
  if (!conv.ToRGB(pic, fmt, true, picture->height, picture->width)) {
    Log(llError, conv.ErrorText());
    active = false;
    return false;
  }
  bool disable = false, changed = true, ready = true;
  try {
    if (hook) hook(*this, conv.Bitmap(), &disable, &changed, pts, frameNumber);
  } catch (const std::exception& e) {
    Log(llError, std::string("Error occurs VideoHook event: ") + e.what());
    changed = false;
    ready = false;
  } catch (...) {
    Log(llError, "Error occurs VideoHook event: unknown exception");
    changed = false;
    ready = false;
  }
  if (changed) {
    conv.CopyFromBitmap();
    if (conv.CurrentIsOwnPicture() && !conv.FromRGB(pic, fmt, picture->height, picture->width)) {
      Log(llError, conv.ErrorText());
      disable = true;
      ready = false;
    }
  }
  if (disable) active = false;
  return ready;
}

void TCustomFFmpeg::DoVideoOut(TOutputFile& of, TOutputStream& ost, TInputStream& ist, AVFrame* picture) {
  AVCodecContext* enc = ost.Enc;
  const TInputStream& sync = ost.SyncIndex >= 0 ? Ist[size_t(ost.SyncIndex)] : ist;
  // 1./2. How many times this picture goes out.
  const double syncIpts = double(sync.Pts - StartTimeUs) / AV_TIME_BASE;
  const double x = syncIpts / av_q2d(enc->time_base);
  int nb = 1;
  std::int64_t missed = 0;  // slots this picture came too late for
  const std::int64_t slotBefore = ost.SyncOpts;
  const int vsync = Opt.VideoSyncMethod;
  if (vsync == 0) {
    ost.SyncOpts = HoldInRange<std::int64_t>(std::nearbyint(x));
  } else {
    const double vdelta = x - double(ost.SyncOpts);
    if (vdelta < -1.1) {
      nb = 0;
    } else if (vsync == 2 || (vsync < 0 && (of.Ctx->oformat->flags & AVFMT_VARIABLE_FPS))) {
      if (vdelta <= -0.6)
        nb = 0;
      else if (vdelta > 0.6) {
        ost.SyncOpts = HoldInRange<std::int64_t>(std::nearbyint(x));
        missed = ost.SyncOpts - slotBefore;
      }
    } else if (vdelta > 1.1) {
      // Behind a source that holds its unchanged slots, a gap (a late read) holds too.
      if (ost.HoldsSlots) {
        ost.SyncOpts = HoldInRange<std::int64_t>(std::nearbyint(x));
        missed = ost.SyncOpts - slotBefore;
      } else {
        nb = HoldInRange<int>(std::nearbyint(vdelta));
        missed = nb - 1;
      }
    }
  }
  if (nb == 0) {
    ++NbFramesDrop;
    DupDropChanged = true;
    if (Opt.Verbose > 2) Log(llDebug, "*** drop!");
  } else if (nb > 1) {
    NbFramesDup += nb - 1;
    DupDropChanged = true;
    if (Opt.Verbose > 2) Log(llDebug, Format("*** %d dup!", nb - 1));
  }
  // 3.
  nb = int(std::min<std::int64_t>(nb, std::int64_t(Opt.MaxFrames[0]) - ost.FrameNumber));
  if (nb <= 0) return;

  const std::int64_t busySince = ff::av_gettime_relative();
  // 4./5. Size or format changes, scaling.
  // The kept picture may share the scaler's target: let it go first, or the scaler would copy it.
  if (ost.LastPicture) ff::av_frame_unref(ost.LastPicture.get());
  AVFrame* final = picture;
  if (!ost.Graph) {
    if (picture->width != ost.ResampleWidth || picture->height != ost.ResampleHeight ||
        picture->format != ost.ResamplePixFmt) {
      Log(llQuiet, Format("Input Stream #%d.%d frame size changed to %dx%d, %s", ist.FileIndex, ist.StreamIndex,
                          picture->width, picture->height,
                          ff::av_get_pix_fmt_name(AVPixelFormat(picture->format))
                              ? ff::av_get_pix_fmt_name(AVPixelFormat(picture->format))
                              : "none"));
      if (!ost.VideoResample) RaiseFFmpeg("Video size or format changed and the stream was not set up to rescale");
      ost.ImgResampleCtx.reset();
      ost.ImgResampleCtx.reset(ff::sws_getContext(picture->width, picture->height, AVPixelFormat(picture->format),
                                                  ost.PictureWidth, ost.PictureHeight, enc->pix_fmt, ScalerFlags(),
                                                  nullptr, nullptr, nullptr));
      if (!ost.ImgResampleCtx) RaiseFFmpeg("Cannot get resampling context");
      ost.ResampleWidth = picture->width;
      ost.ResampleHeight = picture->height;
      ost.ResamplePixFmt = picture->format;
    }
    if (ost.VideoResample) {
      if (ff::av_frame_make_writable(ost.ResamplePic.get()) < 0) RaiseFFmpeg("Cannot allocate temp picture, check pix fmt");
      const std::int64_t before = ThreadCpuUs();
      ConvertForEncoder(ost, ist, picture, ScalerFlags());
      ConvertCpuUs += ThreadCpuUs() - before;
      ff::av_frame_copy_props(ost.ResamplePic.get(), picture);
      final = ost.ResamplePic.get();
    }
  }

  // 6. Out it goes, nb times.
  int sent = 0;
  for (; sent < nb; ++sent) {
    if (sent > 0) PauseGate();
    if (StopRequested) break;
    EncodeOnePicture(of, ost, ist, final);
    ++ost.SyncOpts;
    ++ost.FrameNumber;
  }
  // A recording time may cut the input off before a late picture fills the slots up to it; the
  // end of the stream then repeats this one (FlushEncoders).
  if (sent > 0 && !JoinMode && (RecordingTimeUs != kNoLimitTime || ost.HoldsSlots || Input(ist.FileIndex).IsDevice())) {
    if (!ost.LastPicture) ost.LastPicture = NewFrame();
    ff::av_frame_unref(ost.LastPicture.get());
    if (ff::av_frame_ref(ost.LastPicture.get(), final) < 0) ost.LastPicture.reset();
  }
  if (sent > 0)
    FollowLoad(of, ost, int(ost.SyncOpts - slotBefore), int(missed), ff::av_gettime_relative() - busySince);
}

void TCustomFFmpeg::EncodeOnePicture(TOutputFile& of, TOutputStream& ost, TInputStream& ist, AVFrame* picture) {
  AVCodecContext* enc = ost.Enc;
  TFramePtr f = NewFrame();
  if (ff::av_frame_ref(f.get(), picture) < 0) RaiseFFmpeg("Video encoding failed");
  f->interlaced_frame = picture->interlaced_frame;
  f->top_field_first = Opt.TopFieldFirst != -1 && (enc->flags & AV_CODEC_FLAG_INTERLACED_DCT) ? Opt.TopFieldFirst
                                                                                             : picture->top_field_first;
  f->quality = Opt.SameQuality ? picture->quality : enc->global_quality;
  f->pict_type = AV_PICTURE_TYPE_NONE;
  if (ost.ForcedKfIndex < ost.ForcedKfPts.size() && ost.SyncOpts >= ost.ForcedKfPts[ost.ForcedKfIndex]) {
    f->pict_type = AV_PICTURE_TYPE_I;
    ++ost.ForcedKfIndex;
  }
  if (ost.FrameNumber == 0) ost.LastKeySlot = ost.SyncOpts;
  if (ost.HoldsSlots && ost.SyncOpts - ost.LastKeySlot >= KeyFrameSpacing(enc)) {
    f->pict_type = AV_PICTURE_TYPE_I;
    ost.LastKeySlot = ost.SyncOpts;
  }
  ost.LastCodedSlot = ost.SyncOpts;
  ost.HeldSlot = -1;  // the muxer writes the held slots before this picture itself
  f->pts = ost.SyncOpts;
  const std::int64_t ptsUs = ff::av_rescale_q(ost.SyncOpts, enc->time_base, kMicro);
  bool bitmapReady = false;
  if (OutputHookActive) {
    // The hook paints into the picture: it must be ours alone, not the decoder's or the scaler's.
    if (ff::av_frame_make_writable(f.get()) < 0) {
      Log(llError, "hook buf malloc error.");
    } else {
      if (!OutputConverter) {
        OutputConverter = std::make_unique<TFormatConverter>();
        OutputConverter->SetBitsPixel(HookBitsPixel);
      }
      bitmapReady = RunVideoHook(OnVideoOutputHook, OutputHookActive, *OutputConverter, f.get(), ptsUs,
                                 ost.FrameNumber + 1);
    }
  }
  DoPreview(f.get(), ptsUs, ost.FrameNumber + 1, bitmapReady);
  (void)ist;
  EncodeVideoFrame(of, ost, f.get());
}

void TCustomFFmpeg::EncodeVideoFrame(TOutputFile& of, TOutputStream& ost, AVFrame* frame) {
  const std::int64_t before = ThreadCpuUs();
  int ret = ff::avcodec_send_frame(ost.Enc, frame);
  if (ret < 0 && ret != AVERROR_EOF) RaiseFFmpeg("Video encoding failed");
  if (frame && ret >= 0) ++ost.Load.Sent;
  CodingCpuUs += ThreadCpuUs() - before;
  ReceiveVideoPackets(of, ost);
}

void TCustomFFmpeg::ReceiveVideoPackets(TOutputFile& of, TOutputStream& ost) {
  AVCodecContext* enc = ost.Enc;
  TPacketPtr pkt = NewPacket();
  for (;;) {
    int ret = ff::avcodec_receive_packet(enc, pkt.get());
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) RaiseFFmpeg("Video encoding failed");
    ++ost.Load.Received;
    int pictType = 0;
    size_t sdSize = 0;
    if (const std::uint8_t* sd = ff::av_packet_get_side_data(pkt.get(), AV_PKT_DATA_QUALITY_STATS, &sdSize)) {
      if (sdSize >= 6) {
        std::int32_t q;
        std::memcpy(&q, sd, 4);
        ost.LastQuality = q;
        pictType = sd[4];
        const int errors = sd[5];
        for (int j = 0; j < errors && j < 4 && sdSize >= size_t(8 + 8 * (j + 1)); ++j) {
          std::uint64_t e;
          std::memcpy(&e, sd + 8 + 8 * j, 8);
          ost.Error[j] += e;
        }
      }
    }
    const int size = pkt->size;
    VideoSize += size;
    ff::av_packet_rescale_ts(pkt.get(), enc->time_base, ost.St->time_base);
    if (ost.LogFile && enc->stats_out) std::fputs(enc->stats_out, ost.LogFile.get());
    if (!Opt.VStatsFileName.empty()) DoVideoStats(ost, size, pictType);
    WritePacket(of, ost, pkt.get());
    ff::av_packet_unref(pkt.get());
  }
}

void TCustomFFmpeg::DoVideoStats(TOutputStream& ost, int frameSize, int pictType) {
  if (!VStatsFile) {
    VStatsFile.reset(std::fopen(Opt.VStatsFileName.c_str(), "w"));
    if (!VStatsFile) RaiseFFmpeg("fopen fail: " + Opt.VStatsFileName);
  }
  AVCodecContext* enc = ost.Enc;
  const double q = double(ost.LastQuality) / FF_QP2LAMBDA;
  std::fprintf(VStatsFile.get(), "frame= %5d q= %2.1f ", ost.FrameNumber, q);
  if (enc->flags & AV_CODEC_FLAG_PSNR) {
    double err = double(ost.Error[0]) / (double(enc->width) * enc->height * 255.0 * 255.0 * std::max(1, ost.FrameNumber));
    std::fprintf(VStatsFile.get(), "PSNR= %6.2f ", err > 0 ? -10.0 * std::log10(err) : 99.99);
  }
  std::fprintf(VStatsFile.get(), "f_size= %6d ", frameSize);
  double ti1 = double(ost.SyncOpts) * av_q2d(enc->time_base);
  if (ti1 < 0.01) ti1 = 0.01;
  const double bitrate = double(frameSize) * 8 / av_q2d(enc->time_base) / 1000.0;
  const double avg = double(VideoSize) * 8 / ti1 / 1000.0;
  std::fprintf(VStatsFile.get(), "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
               double(VideoSize) / 1024, ti1, bitrate, avg);
  std::fprintf(VStatsFile.get(), "type= %c\n", ff::av_get_picture_type_char(AVPictureType(pictType)));
}

void TCustomFFmpeg::DoPreview(AVFrame* picture, std::int64_t pts, int frameNumber, bool bitmapReady) {
  int flags;
  bool changed;
  {
    // Only the flags are read under the lock: the callbacks below may wait for the main thread,
    // which may itself be waiting for this lock in SetPreviewFlags.
    std::lock_guard<std::mutex> lock(PreviewLock());
    flags = FPreviewFlags;
    changed = flags != PreviewFlagsUsed;
    PreviewFlagsUsed = flags;
  }
  if (!(flags & 1) && PreviewWin) PreviewWin.reset();
  const bool toBitmap = (flags & 2) && OnPreviewBitmap;
  if (!toBitmap && !(flags & 1)) return;
  const std::int64_t now = ff::av_gettime();
  if (now - LastPreviewTime <= 100000) return;
  if (!OutputConverter) {
    OutputConverter = std::make_unique<TFormatConverter>();
    OutputConverter->SetBitsPixel(HookBitsPixel);
  }
  int off = 0;
  if (!bitmapReady || changed) {
    if (!OutputConverter->ToRGB(PictureOf(picture), AVPixelFormat(picture->format), true, picture->height,
                                picture->width)) {
      Log(llError, OutputConverter->ErrorText());
      off = toBitmap ? 2 : 1;
    }
  }
  if (!off) {
    if (toBitmap) {
      OnPreviewBitmap(*this, OutputConverter->Bitmap(), pts, frameNumber);
    } else {
      if (!PreviewWin) PreviewWin = CreatePreviewWindow();
      if (!PreviewWin || !PreviewWin->Preview(OutputConverter->Bitmap(), frameNumber, pts)) {
        PreviewWin.reset();
        off = 1;
      }
    }
    LastPreviewTime = now;
  }
  if (off) {
    std::lock_guard<std::mutex> lock(PreviewLock());
    FPreviewFlags &= ~off;
    PreviewFlagsUsed = FPreviewFlags;
  }
}

}  // namespace qv
