// The "pipewirecapture" input device: the screen of a Wayland session, asked of the desktop's
// ScreenCast portal and received as a PipeWire stream, at a fixed frame rate. Takes the screen
// device's option string ("offset=X,Y;framesize=W,H;framerate=N/D;cursor=1;session=N"): a region is
// a crop of the monitor's stream, "portalwindow=1" a window picked in the portal's own dialog.
#pragma once

#include <memory>

#include "capture/frame_schedule.h"
#include "media/input_device.h"

namespace qv {

class TCaptureSession;
class TPipeWireStream;
class TScreenCastPortal;

// One opened PipeWire screen input, made by the device record's factory and owned by the device host.
//
// Threads: the thread that reads the input owns every field; the stream's own loop thread touches
// only what TPipeWireStream keeps behind its lock.
class TPipeWireCaptureContext final : public TDeviceState {
 public:
  TPipeWireCaptureContext();
  ~TPipeWireCaptureContext() override;  // the stream first, then the portal session
  TPipeWireCaptureContext(const TPipeWireCaptureContext&) = delete;
  TPipeWireCaptureContext& operator=(const TPipeWireCaptureContext&) = delete;

  // What the device logs with: lines read "[pipewirecapture @ 0x...]".
  void* LogContext() { return &LogClass; }

  const AVClass* LogClass;
  std::shared_ptr<TCaptureSession> Session;
  std::unique_ptr<TScreenCastPortal> Portal;
  std::unique_ptr<TPipeWireStream> Stream;
  TFrameSchedule Schedule;
  bool SkipUnchanged = false;
  std::uint64_t PicturesCopied = 0;  // the stream's count at the last copy; 0: none copied yet
  int FirstWidth = 0, FirstHeight = 0;  // the stream's size at the first picture
  bool SaidSize = false;                // its change was said (once a recording)
};

// Registers "pipewirecapture" with the device registry; harmless to call again.
void RegisterPipeWireCapture();

}  // namespace qv
