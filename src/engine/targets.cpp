// `target`: the vcd/svcd/dvd/dv/dv50 profiles with their PAL/NTSC/film norms.
#include "engine/custom_ffmpeg.h"

namespace qv {

void TCustomFFmpeg::ApplyTarget(const std::string& value) {
  enum { kPal, kNtsc, kFilm } norm;
  std::string target = value;
  if (target.rfind("pal-", 0) == 0) {
    norm = kPal;
    target.erase(0, 4);
  } else if (target.rfind("ntsc-", 0) == 0) {
    norm = kNtsc;
    target.erase(0, 5);
  } else if (target.rfind("film-", 0) == 0) {
    norm = kFilm;
    target.erase(0, 5);
  } else {
    const AVRational r = Opt.FrameRate;
    if (r.num <= 0 || r.den <= 0) RaiseFFmpeg("frame_rate is invalid.");
    const int fr = int(r.num * 1000.0 / r.den);
    if (fr == 25000)
      norm = kPal;
    else if (fr == 29970 || fr == 23976)
      norm = kNtsc;
    else
      RaiseFFmpeg("frame_rate is invalid.");
    Log(llInfo, Format("Assuming %s for target.", norm == kPal ? "PAL" : "NTSC"));
  }
  if (target != "vcd" && target != "svcd" && target != "dvd" && target != "dv" && target != "dv50")
    RaiseFFmpeg("Unknown target type");

  static const char* const kRates[] = {"25", "30000/1001", "24000/1001"};
  const bool pal = norm == kPal;
  const char* gop = pal ? "15" : "18";
  auto aspect = [&](const char* ratio) {
    if (Opt.FrameAspectRatio != 0) return;
    Log(llInfo, Format("Assuming %s for aspect ratio", ratio));
    SetFrameAspectRatio(ratio);
  };

  if (target == "vcd") {
    SetCodecName("vcodec", "mpeg1video");
    SetCodecName("acodec", "mp2");
    Opt.FormatName = "vcd";
    SetFrameSize(pal ? "352x288" : "352x240");
    SetFrameRate(kRates[norm]);
    Opt.FramePixFmt = AV_PIX_FMT_YUV420P;
    SetGeneric("g", gop);
    SetGeneric("b", "1150000");
    SetGeneric("maxrate", "1150000");
    SetGeneric("minrate", "1150000");
    SetGeneric("bufsize", "327680");  // 40 KiB of VBV buffer, in bits
    SetGeneric("ab", "224000");
    Opt.AudioSampleRate = 44100;
    Opt.AudioChannels = 2;
    SetGeneric("packetsize", "2324");
    SetGeneric("muxrate", "1411200");  // 2352 bytes * 75 sectors/s * 8
    Opt.MuxPreload = (36000 + 3 * 1200) / 90000.0;  // 0.44 s
    aspect("4:3");
  } else if (target == "svcd") {
    SetCodecName("vcodec", "mpeg2video");
    SetCodecName("acodec", "mp2");
    Opt.FormatName = "svcd";
    SetFrameSize(pal ? "480x576" : "480x480");
    SetFrameRate(kRates[norm]);
    Opt.FramePixFmt = AV_PIX_FMT_YUV420P;
    SetGeneric("g", gop);
    SetGeneric("b", "2040000");
    SetGeneric("maxrate", "2516000");
    SetGeneric("minrate", "0");
    SetGeneric("bufsize", "1835008");  // 224 KiB, in bits
    // The scan-offset bit left the codec flags; the MPEG-2 encoder carries it as its own option now.
    SetGeneric("scan_offset", "1");
    SetGeneric("ab", "224000");
    Opt.AudioSampleRate = 44100;
    if (Opt.AudioChannels == 1) Opt.AudioChannels = 2;
    SetGeneric("packetsize", "2324");
    aspect("4:3");
  } else if (target == "dvd") {
    SetCodecName("vcodec", "mpeg2video");
    SetCodecName("acodec", "ac3");
    Opt.FormatName = "dvd";
    SetFrameSize(pal ? "720x576" : "720x480");
    SetFrameRate(kRates[norm]);
    Opt.FramePixFmt = AV_PIX_FMT_YUV420P;
    SetGeneric("g", gop);
    SetGeneric("b", "6000000");
    SetGeneric("maxrate", "9000000");
    SetGeneric("minrate", "0");
    SetGeneric("bufsize", "1835008");
    SetGeneric("packetsize", "2048");  // a DVD sector
    SetGeneric("muxrate", "10080000");
    SetGeneric("ab", "448000");
    Opt.AudioSampleRate = 48000;
    aspect("16:9");
  } else {  // dv, dv50
    Opt.FormatName = "dv";
    SetFrameSize(pal ? "720x576" : "720x480");
    SetFrameRate(kRates[norm]);
    Opt.FramePixFmt = target == "dv50" ? AV_PIX_FMT_YUV422P : (pal ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV411P);
    Opt.AudioSampleRate = 48000;
    Opt.AudioChannels = 2;
  }
}

}  // namespace qv
