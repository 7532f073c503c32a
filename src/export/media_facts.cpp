#include "export/media_facts.h"

#include <algorithm>

#include "media/ff_api.h"
#include "media/ff_owners.h"
#include "engine/run_state.h"
#include "media/ff_utils.h"

namespace qv {

namespace {

constexpr AVRational kMicro{1, AV_TIME_BASE};

std::int64_t HalfPictureUs(const TMediaFacts& facts) {
  return facts.FrameRate > 0 ? std::int64_t(AV_TIME_BASE / facts.FrameRate / 2) : 20000;
}

void TakeStreams(const AVFormatContext& ctx, TMediaFacts& facts, int& video) {
  video = -1;
  for (unsigned i = 0; i < ctx.nb_streams; ++i) {
    const AVStream* st = ctx.streams[i];
    const AVCodecParameters* par = st->codecpar;
    const AVCodec* dec = ff::avcodec_find_decoder(par->codec_id);
    const std::string name = dec ? dec->name : "";
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && video < 0) {
      video = int(i);
      facts.VideoCodec = name;
      facts.Width = par->width;
      facts.Height = par->height;
      const AVRational fr = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
      facts.FrameRate = fr.num > 0 && fr.den > 0 ? av_q2d(fr) : 0;
      facts.VideoBitRate = par->bit_rate;
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO && facts.AudioCodec.empty()) {
      facts.AudioCodec = name;
    }
  }
}

}  // namespace

bool ReadMediaFacts(const std::string& fileName, TMediaFacts& facts, std::string& error) {
  facts = TMediaFacts();
  AVFormatContext* raw = nullptr;
  // "file:" keeps a name with a colon in it from being taken for some other protocol's URL.
  int ret = ff::avformat_open_input(&raw, ("file:" + fileName).c_str(), nullptr, nullptr);
  if (ret < 0) {
    error = ErrorCodeText("Cannot read " + fileName, ret);
    return false;
  }
  TInputContextPtr ctx(raw);
  if ((ret = ff::avformat_find_stream_info(raw, nullptr)) < 0) {
    error = ErrorCodeText("Cannot read the streams of " + fileName, ret);
    return false;
  }
  int video = -1;
  TakeStreams(*raw, facts, video);
  if (video < 0) {
    error = fileName + " holds no pictures.";
    return false;
  }
  facts.Container = raw->iformat->name;
  facts.Container = facts.Container.substr(0, facts.Container.find(','));
  const AVStream* st = raw->streams[video];
  const std::int64_t origin = raw->start_time == AV_NOPTS_VALUE ? 0 : raw->start_time;
  std::int64_t end = 0;
  TPacketPtr pkt = NewPacket();
  while (ff::av_read_frame(raw, pkt.get()) >= 0) {
    const std::int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (pkt->stream_index == video && t != AV_NOPTS_VALUE && pkt->size > 0) {
      const std::int64_t us = ff::av_rescale_q(t, st->time_base, kMicro) - origin;
      end = std::max(end, us + ff::av_rescale_q(pkt->duration, st->time_base, kMicro));
      if (pkt->flags & AV_PKT_FLAG_KEY) facts.KeyFramesUs.push_back(us);
    }
    ff::av_packet_unref(pkt.get());
  }
  std::sort(facts.KeyFramesUs.begin(), facts.KeyFramesUs.end());
  facts.DurationUs = raw->duration != AV_NOPTS_VALUE && raw->duration > 0 ? raw->duration : end;
  if (facts.VideoBitRate <= 0 && raw->bit_rate > 0) facts.VideoBitRate = raw->bit_rate;
  return true;
}

bool IsKeyFrameAt(const TMediaFacts& facts, std::int64_t us) {
  const std::int64_t half = HalfPictureUs(facts);
  if (us >= facts.DurationUs - half) return true;
  return std::any_of(facts.KeyFramesUs.begin(), facts.KeyFramesUs.end(),
                     [&](std::int64_t k) { return k >= us - half && k <= us + half; });
}

std::int64_t KeyFrameBefore(const TMediaFacts& facts, std::int64_t us) {
  std::int64_t best = 0;
  for (std::int64_t k : facts.KeyFramesUs)
    if (k <= us + HalfPictureUs(facts)) best = k;
  return best;
}

std::int64_t KeyFrameAfter(const TMediaFacts& facts, std::int64_t us) {
  for (std::int64_t k : facts.KeyFramesUs)
    if (k >= us - HalfPictureUs(facts)) return k;
  return facts.DurationUs;
}

}  // namespace qv
