// The "screencapture" input device: grabs the whole screen, a region, or a window (followed when it
// moves) from the X server at a fixed frame rate, optionally with the mouse pointer drawn in and a
// blinking frame around the area. Opened through the program's device host with an option string
// such as "offset=10,20;framesize=640,480;framerate=25/1;showframe=1;cursor=1;session=3".
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "capture/frame_schedule.h"
#include "capture/screen_capture_rows.h"
#include "media/input_device.h"

namespace qv {

class TCaptureSession;
class TFrameForm;
class TGrabPool;
struct TCaptureWindow;
class TScreenChanges;
class TInputWatch;

// One opened screen input, made by the device record's factory and owned by the device host.
//
// Threads: the thread that reads the input owns every field. The frame overlay's thread reads the
// geometry (Width, Height, OffsetX, OffsetY, Area's window and border), fixed once the open is
// done, and Started.
class TScreenCaptureContext final : public TDeviceState {
 public:
  TScreenCaptureContext();
  ~TScreenCaptureContext() override;  // overlay first (its thread reads us), then images, connection
  TScreenCaptureContext(const TScreenCaptureContext&) = delete;
  TScreenCaptureContext& operator=(const TScreenCaptureContext&) = delete;

  // What the device logs with: lines read "[screencapture @ 0x...]".
  void* LogContext() { return &LogClass; }

  const AVClass* LogClass;
  std::shared_ptr<TCaptureSession> Session;  // pauses and the time line shared with the sound
  std::uint32_t Window = 0;   // the X window picked for capture (watched for being closed); 0: screen
  void* Source = nullptr;     // the device's own X connection (Display*)
  std::shared_ptr<TGrabPool> Images;  // grab images; packets still out keep them after close
  std::unique_ptr<TCaptureWindow> Area;  // the captured window's frame or client, when Window is set
  AVRational TimeBase{0, 0};   // seconds per frame
  TFrameSchedule Schedule;     // the slots and stamps of the frames
  std::atomic<int> Started{0};     // 0 until the first frame request
  int OffsetX = 0, OffsetY = 0;    // capture origin, relative to the window when there is one
  int DrawCursor = 0;              // cleared for good after any failure to read the pointer
  int FrameBytes = 0;              // row stride x height
  int Width = 0, Height = 0;
  int BitsPerPixel = 0;
  int ClientOnly = 0;
  int ShowFrame = 0;
  std::unique_ptr<TFrameForm> FrameForm;

  // Geometry of the screen and the frame's pixels. The screen's size follows RandR; the area keeps
  // the size it had at open.
  int Screen = 0;
  int ScreenWidth = 0, ScreenHeight = 0;
  TRootRect Readable;  // what of the root the screen and the window leave to read; the rest is black
  bool SaidScreenSize = false, SaidWindowSize = false, SaidWindowHidden = false;  // each said once
  int Stride = 0;
  AVPixelFormat PixelFormat = AV_PIX_FMT_NONE;
  std::vector<std::uint32_t> Palette;  // 256 entries for an 8-bit colour-mapped screen, else empty

  int PaletteSent = 0;

  // Unchanged slots ("skipunchanged"): an empty packet stands for a picture that holds.
  std::unique_ptr<TScreenChanges> Changes;  // null: every slot is grabbed
  int PictureX = 0, PictureY = 0;   // where on the root the last delivered picture was read
  bool PictureOwed = true;          // the next slot is delivered: the first, and the first after a pause
  // "showclicks", "showkeys": rings drawn around button presses, labels of the keys pressed; null: none
  std::unique_ptr<TInputWatch> Input;
  // Partial work: the rows in which this slot's picture differs from the last one delivered (the
  // engine converts only those), and the rows the pointer and the click rings, and the key labels,
  // were drawn into last (two bands: the labels sit in a corner, the pointer anywhere).
  TRowSet SlotRows;
  TRowBand PointerRows;
  TRowBand KeyRows;
};

// Registers "screencapture" with the device registry; harmless to call again.
void RegisterScreenCapture();
const TInputDevice* ScreenCaptureDevice();

int ScreenCaptureReadHeader(AVFormatContext* ctx, TFormatParameters* ap);
int ScreenCaptureReadPacket(AVFormatContext* ctx, AVPacket* pkt);

}  // namespace qv
