#include "engine/avi_repair.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/avi_layout.h"
#include "engine/ffmpeg_exception.h"
#include "engine/run_state.h"
#include "media/ff_api.h"
#include "media/ff_utils.h"
#include "media/text_utils.h"

namespace qv {

namespace {

// The library's file protocol takes the name's bytes as they are, as rename and unlink below do;
// the prefix keeps a name with a colon in it from being read as some other protocol's URL.
std::string FileUrl(const std::string& fileName) { return "file:" + fileName; }

TInputContextPtr OpenAvi(const std::string& fileName) {
  AVFormatContext* raw = nullptr;
  int ret = ff::avformat_open_input(&raw, FileUrl(fileName).c_str(), ff::av_find_input_format("avi"), nullptr);
  if (ret < 0) RaiseFFmpeg(ErrorCodeText("Cannot read " + fileName, ret));
  TInputContextPtr ctx(raw);
  ret = ff::avformat_find_stream_info(raw, nullptr);
  if (ret < 0) RaiseFFmpeg(ErrorCodeText("Cannot read the streams of " + fileName, ret));
  return ctx;
}

bool StatesDuration(const AVFormatContext& ctx) { return ctx.duration != AV_NOPTS_VALUE && ctx.duration > 0; }

bool IsComplete(const AVFormatContext& ctx, const std::string& fileName) {
  return StatesDuration(ctx) && AviLayoutIsWhole(fileName);
}

// The output's streams, one per picture or sound stream of the input; the map gives each input
// stream its output stream (-1: left out).
std::vector<int> AddStreams(const AVFormatContext& in, AVFormatContext& out) {
  std::vector<int> map;
  for (unsigned i = 0; i < in.nb_streams; ++i) {
    const AVStream* ist = in.streams[i];
    const AVMediaType type = ist->codecpar->codec_type;
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) {
      map.push_back(-1);
      continue;
    }
    AVStream* ost = ff::avformat_new_stream(&out, nullptr);
    if (!ost || ff::avcodec_parameters_copy(ost->codecpar, ist->codecpar) < 0) RaiseFFmpeg("Out of memory");
    // Block-coded sound (ADPCM) keeps its time base only when the muxer knows the samples in a
    // block; the demuxer leaves that out, and the header's byte rate may be far off.
    if (type == AVMEDIA_TYPE_AUDIO && ost->codecpar->frame_size <= 0 && ost->codecpar->block_align > 0)
      ost->codecpar->frame_size = ff::av_get_audio_frame_duration2(ost->codecpar, ost->codecpar->block_align);
    ost->time_base = ist->time_base;
    ost->avg_frame_rate = ist->avg_frame_rate;
    ost->r_frame_rate = ist->r_frame_rate;
    ost->sample_aspect_ratio = ist->sample_aspect_ratio;
    ff::av_dict_copy(&ost->metadata, ist->metadata, 0);
    map.push_back(ost->index);
  }
  if (out.nb_streams == 0) RaiseFFmpeg("It holds neither picture nor sound.");
  return map;
}

TOutputContextPtr CreateAvi(const std::string& fileName) {
  AVFormatContext* raw = nullptr;
  if (ff::avformat_alloc_output_context2(&raw, nullptr, "avi", FileUrl(fileName).c_str()) < 0 || !raw)
    RaiseFFmpeg("Out of memory");
  return TOutputContextPtr(raw);
}

void OpenForWriting(AVFormatContext& out, const std::string& fileName) {
  int ret = ff::avio_open2(&out.pb, FileUrl(fileName).c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
  if (ret < 0) RaiseFFmpeg(ErrorCodeText("Cannot write " + fileName, ret));
  ret = ff::avformat_write_header(&out, nullptr);
  if (ret < 0) RaiseFFmpeg(ErrorCodeText("Cannot write " + fileName, ret));
}

// Where each output stream's written packets end, in seconds.
using TStreamEnds = std::vector<double>;

double PacketEnd(const AVPacket& pkt, const AVStream& st) {
  const std::int64_t t = pkt.dts != AV_NOPTS_VALUE ? pkt.dts : pkt.pts;
  if (t == AV_NOPTS_VALUE) return 0;
  return double(t + std::max<std::int64_t>(pkt.duration, 1)) * av_q2d(st.time_base);
}

// A recording holds an unchanged picture with empty chunks, which the reader does not hand out;
// the muxer writes those between two pictures again by itself, and the ones after the last picture,
// up to where the sound ends, are written here, so picture and sound keep their length. Each of
// them was an empty chunk of 8 bytes in the damaged file, which bounds their count: sound whose
// stamps were damaged never makes hours of them.
void HoldLastPicture(AVFormatContext& out, const TStreamEnds& ends, std::int64_t mostHeld) {
  double soundEnd = 0;
  for (unsigned i = 0; i < out.nb_streams; ++i)
    if (out.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) soundEnd = std::max(soundEnd, ends[i]);
  for (unsigned i = 0; i < out.nb_streams; ++i) {
    const AVStream* st = out.streams[i];
    if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || ends[i] <= 0) continue;
    const double slot = av_q2d(st->time_base);
    TPacketPtr pkt = NewPacket();
    const std::int64_t first = std::llround(ends[i] / slot);
    for (std::int64_t next = first; double(next) * slot + slot / 2 <= soundEnd && next - first < mostHeld; ++next) {
      pkt->pts = pkt->dts = next;
      pkt->duration = 1;
      pkt->stream_index = int(i);
      const int ret = ff::av_interleaved_write_frame(&out, pkt.get());
      if (ret < 0) RaiseFFmpeg(ErrorCodeText("Cannot write the repaired file", ret));
    }
  }
}

// Copies every packet that can be read, up to the end or to where the damage begins; returns how
// many with data were written.
int CopyPackets(AVFormatContext& in, AVFormatContext& out, const std::vector<int>& map, std::int64_t inputSize) {
  TPacketPtr pkt = NewPacket();
  int written = 0;
  TStreamEnds ends(out.nb_streams, 0.0);
  while (ff::av_read_frame(&in, pkt.get()) >= 0) {
    const size_t source = size_t(pkt->stream_index);
    const int target = source < map.size() ? map[source] : -1;
    // A chunk cut short by the end of the file is marked corrupt: it would decode as garbage.
    if (target < 0 || (pkt->flags & AV_PKT_FLAG_CORRUPT)) {
      ff::av_packet_unref(pkt.get());
      continue;
    }
    const bool hasData = pkt->size > 0;
    ff::av_packet_rescale_ts(pkt.get(), in.streams[pkt->stream_index]->time_base, out.streams[target]->time_base);
    pkt->stream_index = target;
    pkt->pos = -1;
    const double end = PacketEnd(*pkt, *out.streams[target]);
    // The muxer takes the packet's reference. One it refuses as out of order is left out.
    const int ret = ff::av_interleaved_write_frame(&out, pkt.get());
    if (ret == AVERROR(EINVAL)) continue;
    if (ret < 0) RaiseFFmpeg(ErrorCodeText("Cannot write the repaired file", ret));
    ends[size_t(target)] = std::max(ends[size_t(target)], end);
    if (hasData) ++written;
  }
  HoldLastPicture(out, ends, inputSize / 8);
  return written;
}

int CountPackets(AVFormatContext& ctx) {
  TPacketPtr pkt = NewPacket();
  int count = 0;
  while (ff::av_read_frame(&ctx, pkt.get()) >= 0) {
    if (pkt->size > 0) ++count;
    ff::av_packet_unref(pkt.get());
  }
  return count;
}

std::int64_t VerifiedDuration(const std::string& fileName, int written) {
  TInputContextPtr ctx = OpenAvi(fileName);
  if (!IsComplete(*ctx, fileName)) RaiseFFmpeg("The repaired file is not complete.");
  const int read = CountPackets(*ctx);
  if (read != written) RaiseFFmpegFmt("The repaired file yields %d of the %d packets written.", read, written);
  return ctx->duration;
}

std::string SystemText(const std::string& what) { return what + ": " + std::strerror(errno); }

// The repaired file is on the disk before the original goes.
void SyncToDisk(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const std::string text = SystemText("Cannot store " + fileName + " on the disk");
    if (fd >= 0) ::close(fd);
    RaiseFFmpeg(text);
  }
  ::close(fd);
}

bool Exists(const std::string& fileName) { return ::access(fileName.c_str(), F_OK) == 0; }

}  // namespace

std::string UnfinishedName(const std::string& fileName) { return fileName + ".unfinished"; }

TAviRepair RemuxAvi(const std::string& damaged, const std::string& repaired) {
  TAviRepair result;
  try {
    int written = 0;
    {
      TInputContextPtr in = OpenAvi(damaged);
      TOutputContextPtr out = CreateAvi(repaired);
      ff::av_dict_copy(&out->metadata, in->metadata, 0);
      const std::vector<int> map = AddStreams(*in, *out);
      OpenForWriting(*out, repaired);
      written = CopyPackets(*in, *out, map, GetFileSize(damaged));
      if (written == 0) RaiseFFmpeg("No picture or sound in it can be read.");
      const int ret = ff::av_write_trailer(out.get());
      if (ret < 0) RaiseFFmpeg(ErrorCodeText("Cannot finish " + repaired, ret));
    }
    result.DurationUs = VerifiedDuration(repaired, written);
    result.Ok = true;
  } catch (const FFmpegException& e) {
    result.Error = e.what();
  }
  return result;
}

TAviRepair RepairAviFile(const std::string& fileName) {
  const std::string original = UnfinishedName(fileName);
  TAviRepair result;
  if (!Exists(original)) {
    try {
      TInputContextPtr ctx = OpenAvi(fileName);
      if (IsComplete(*ctx, fileName)) {
        result.Ok = result.WasComplete = true;
        result.DurationUs = ctx->duration;
        return result;
      }
    } catch (const FFmpegException& e) {
      result.Error = e.what();
      return result;
    }
    if (::rename(fileName.c_str(), original.c_str()) != 0) {
      result.Error = SystemText("Cannot rename " + fileName);
      return result;
    }
  }
  result = RemuxAvi(original, fileName);
  if (result.Ok) {
    try {
      SyncToDisk(fileName);
    } catch (const FFmpegException& e) {
      result.Ok = false;
      result.Error = e.what();
    }
  }
  if (!result.Ok) {
    ::unlink(fileName.c_str());
    ::rename(original.c_str(), fileName.c_str());
    return result;
  }
  ::unlink(original.c_str());
  return result;
}

}  // namespace qv
