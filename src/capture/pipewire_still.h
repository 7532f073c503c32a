// One picture of the screen on a Wayland session, taken from the portal's stream (or a given
// PipeWire node) and let go at once: what the region picker shows frozen, since nothing else may
// read a Wayland desktop's pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace qv {

struct TStillPicture {
  int Width = 0, Height = 0;
  AVPixelFormat Format = AV_PIX_FMT_NONE;  // 4 bytes a pixel (BGR0, RGB0, BGRA, …)
  std::vector<std::uint8_t> Pixels;        // rows packed
};

// The first picture of PipeWire node `node`, or of the stream the desktop's ScreenCast portal
// grants when `node` is 0 (the desktop may ask the user first); `restoreToken` is the portal's
// permission kept from last time, replaced by the one for next time. false with `error`, a sentence
// for the user. Blocks the calling thread until the picture came, for at most about ten seconds after
// the portal's answer.
bool TakePipeWireStill(std::uint32_t node, std::string& restoreToken, TStillPicture& still, std::string& error);

}  // namespace qv
