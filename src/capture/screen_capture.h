// The "screencapture" input device: grabs the whole screen, a region, or a window (followed when it
// moves) from the X server at a fixed frame rate, optionally with the mouse pointer drawn in and a
// blinking frame around the area. Opened through the program's device host with an option string
// such as "offset=10,20;framesize=640,480;framerate=25/1;showframe=1;cursor=1".
#pragma once

#include <cstdint>

#include "media/input_device.h"

namespace qv {

class TFrameForm;
class TGrabPool;
struct TCaptureWindow;

// The device's private state. The host allocates it zero-filled and frees it after close, so it holds
// only plain fields; everything with a destructor sits behind a pointer that close releases.
struct TScreenCaptureContext {
  std::uint32_t Window;       // X window whose area is captured; 0 captures from the whole screen
  void* Source;               // the device's own X connection (Display*)
  TGrabPool* Images;          // grab images; their memory becomes the packets
  TCaptureWindow* Area;       // the captured window's frame or client, when Window is set
  AVRational TimeBase;        // seconds per frame
  std::int64_t NextFrameTime;  // due time of the next frame in microseconds / TimeBase
  int Started;                // 0 until the first frame request (read by the overlay's thread)
  int OffsetX, OffsetY;       // capture origin, relative to the window when there is one
  int DrawCursor;             // cleared for good after any failure to read the pointer
  int FrameBytes;             // row stride x height
  int Width, Height;
  int BitsPerPixel;
  int ClientOnly;
  int ShowFrame;
  TFrameForm* FrameForm;

  // Geometry of the screen and the frame's pixels.
  int Screen;
  int ScreenWidth, ScreenHeight;
  int Stride;
  AVPixelFormat PixelFormat;
  std::uint32_t* Palette;  // 256 entries for an 8-bit colour-mapped screen, else nullptr

  // Time line of the packets (see ScreenCaptureReadPacket).
  std::int64_t FirstFrameTime;  // NextFrameTime of the first frame
  std::int64_t PausedTotal;     // microseconds taken out of the time line for pauses
  std::int64_t PauseSeen;       // the pause clock's reading at the previous request
  std::int64_t LastReturn;      // monotonic time and reader CPU time when the previous frame was handed out
  std::int64_t LastReturnCpu;
  unsigned long Reader;         // the thread that read the previous frame
  int PaletteSent;
  std::int64_t TimelineShift;   // microseconds the first frame sits after the recording's origin
};

// Registers "screencapture" with the device registry; harmless to call again.
void RegisterScreenCapture();
const TInputDevice* ScreenCaptureDevice();

int ScreenCaptureReadHeader(AVFormatContext* ctx, TFormatParameters* ap);
int ScreenCaptureReadPacket(AVFormatContext* ctx, AVPacket* pkt);
int ScreenCaptureReadClose(AVFormatContext* ctx);

// Pauses of a recording, told by whoever pauses it (beside the audio pause flag), so that the frames'
// time line leaves the paused time out just as the audio does. Without these calls the device takes
// a long wait between two requests during which the reading thread used no processor time for one.
void NoteCapturePaused(bool paused);
// Microseconds spent paused so far, the current pause included.
std::int64_t CapturePausedMicros();

}  // namespace qv
