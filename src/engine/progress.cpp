// Progress reports during the run and the final statistics line.
#include <cmath>

#include "engine/custom_ffmpeg.h"

namespace qv {

void TCustomFFmpeg::ReportProgress(bool last) {
  LastReportTime = ff::av_gettime();
  if (OutputCount() == 0) return;
  // Size of the first output.
  std::int64_t totalSize = 0;
  AVFormatContext* oc = Output(0).Ctx;
  if (oc && oc->pb) {
    totalSize = ff::avio_size(oc->pb);
    if (totalSize < 0) totalSize = ff::avio_seek(oc->pb, 0, SEEK_CUR);
    if (totalSize < 0) totalSize = 0;
  }
  // Figures of the output streams (in join mode those of the current segment).
  const double elapsed = double(ff::av_gettime() - RunStartTime) / 1000000.0;
  std::string text;
  bool firstVideo = true;
  int frameNumber = 0, fps = 0;
  double quality = -1;
  double ti = 1e10, tiSparse = 1e10;
  for (const auto& ost : Ost) {
    if (JoinMode && ost.FileIndex != CurrentInput) continue;
    const AVRational tb = ost.EncodingNeeded ? ost.Enc->time_base : ost.St->time_base;
    if (ost.Info->Kind == AVMEDIA_TYPE_VIDEO) {
      double q = ost.EncodingNeeded ? double(ost.LastQuality) / FF_QP2LAMBDA : -1;
      if (!firstVideo) text += Format("q=%2.1f ", q);
      if (firstVideo) {
        frameNumber = ost.FrameNumber;
        if (frameNumber < 1) return;  // nothing written yet: no report at all
        fps = elapsed > 1 ? int(double(frameNumber) / elapsed + 0.5) : 0;
        quality = q;
        text += Format("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, q);
        if (last) text += "L";
        if (Opt.QpHist && q >= 0) {
          int qp = int(std::lrint(q));
          if (qp >= 0 && qp < 52) ++QpHistogram[qp];
          for (int j = 0; j < 32; ++j) text += Format("%X", int(std::log2(double(QpHistogram[j]) + 1)));
        }
        if (Opt.DoPsnr && ost.EncodingNeeded && (ost.Enc->flags & AV_CODEC_FLAG_PSNR)) {
          text += "PSNR=";
          double total = 0;
          const char planes[3] = {'Y', 'U', 'V'};
          for (int j = 0; j < 3; ++j) {
            double err = double(ost.Error[j]);
            double scale = double(ost.Enc->width) * ost.Enc->height * 255.0 * 255.0 * std::max(1, ost.FrameNumber);
            if (j) scale /= 4;
            total += err;
            text += Format("%c:%2.2f ", planes[j], err > 0 ? -10.0 * std::log10(err / scale) : 99.99);
          }
          double scale = double(ost.Enc->width) * ost.Enc->height * 255.0 * 255.0 * 1.5 * std::max(1, ost.FrameNumber);
          text += Format("*:%2.2f ", total > 0 ? -10.0 * std::log10(total / scale) : 99.99);
        }
        firstVideo = false;
      }
    }
    // Subtitles are sparse: their last cue says little about how far the output has got.
    double& least = ost.Info->Kind == AVMEDIA_TYPE_SUBTITLE ? tiSparse : ti;
    double t = ost.EncodingNeeded ? double(ost.SyncOpts) * av_q2d(tb) : ost.MuxTime;
    if (t > 0 && t < least) least = t;
  }
  if (firstVideo && Ost.empty()) return;
  if (ti == 1e10) ti = tiSparse;
  if (ti == 1e10 || ti < 0.01) ti = 0.01;
  const double bitrate = double(totalSize) * 8 / ti / 1000.0;

  // The line, the event.
  const bool changed = DupDropChanged;
  if (OnProgress || Opt.Verbose > 0 || last) {
    if (firstVideo) text += Format("frame=%5d fps=%3d q=%3.1f ", 0, 0, -1.0) + (last ? "L" : "");
    text += Format("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", double(totalSize) / 1024.0, ti, bitrate);
    if (NbFramesDup || NbFramesDrop) text += Format(" dup=%d drop=%d", NbFramesDup, NbFramesDrop);
    if (changed && OnProgress && Opt.Verbose >= 0) Log(llInfo, text);
    DupDropChanged = false;
    if (OnProgress) {
      OnProgress(*this, last ? -1 : CurrentInput, TotalDuration, std::int64_t(ti * 1000000.0), totalSize, bitrate,
                 quality, fps, frameNumber);
    } else if (Opt.Verbose >= 0) {
      Log(llVerbose, text);
    }
  }
  // The final statistics.
  if (last && Opt.Verbose >= 0) {
    double sum = double(VideoSize + AudioSize + ExtraSize);
    double overhead = sum > 0 ? 100.0 * (double(totalSize) - sum) / sum : 0;
    Log(llInfo, Format("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                       double(VideoSize) / 1024.0, double(AudioSize) / 1024.0, double(ExtraSize) / 1024.0, overhead));
    if (CodingCpuUs > 0)
      Log(llInfo, Format("video: converted in %.3f and coded in %.3f CPU s", double(ConvertCpuUs) / 1e6,
                         double(CodingCpuUs) / 1e6));
    LogPresetsRun();
  }
}

}  // namespace qv
