#include "capture/pipewire_still.h"

#include <memory>

#include "capture/pipewire_stream.h"
#include "capture/screencast_portal.h"

namespace qv {

namespace {

// As for a recording: the compositor sends a picture at once when the stream starts.
constexpr int kFirstFrameTimeoutMs = 10000;

bool CopyStill(TPipeWireStream& stream, TStillPicture& still, std::string& error) {
  still.Width = stream.Width();
  still.Height = stream.Height();
  still.Format = stream.PixelFormat();
  still.Pixels.resize(std::size_t(stream.FrameBytes()));
  return stream.CopyLatest(still.Pixels.data(), error);
}

}  // namespace

bool TakePipeWireStill(std::uint32_t node, std::string& restoreToken, TStillPicture& still, std::string& error) {
  std::unique_ptr<TScreenCastPortal> portal;  // outlives the stream: closing it ends the stream
  int fd = -1;                                // -1: the session's own PipeWire
  if (!node) {
    portal = std::make_unique<TScreenCastPortal>();
    portal->SetRestoreToken(restoreToken);
    // The pointer stays out: the user is about to point at the picture itself.
    fd = portal->Share(false, error);
    restoreToken = portal->RestoreToken();
    if (fd < 0) return false;
    node = portal->Stream().Node;
  }
  TPipeWireStream stream;
  const bool read = stream.Start(fd, node, TCropArea(), error) && stream.WaitFirstFrame(kFirstFrameTimeoutMs, error) &&
                    CopyStill(stream, still, error);
  if (!read) error = "The screen cannot be read (" + error + ").";
  return read;
}

}  // namespace qv
