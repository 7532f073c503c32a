// The program's own input devices ("screencapture", "wavecapture"). Current libavformat no longer
// lets a program add demuxers, so the program keeps its own registry, which the engine consults for a
// forced format name before libavformat, and a device host that plays the library's role for them.
#pragma once

#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace qv {

// What the engine knows about an input before it is opened (the old AVFormatParameters). A device may
// read and overwrite these (the screen device takes its rate and size from here).
struct TFormatParameters {
  AVRational time_base{0, 0};
  int sample_rate = 0;
  int channels = 0;
  int width = 0;
  int height = 0;
  AVPixelFormat pix_fmt = AV_PIX_FMT_NONE;
  int channel = 0;
  const char* standard = nullptr;
};

// The state of a device that is an object: made by its record's factory, owned by the host from
// before read_header until after read_close (or a failed read_header), seen by the device as
// AVFormatContext::priv_data (read it back with DeviceState<T>).
class TDeviceState {
 public:
  virtual ~TDeviceState() = default;
};

template <typename T>
T* DeviceState(AVFormatContext* ctx) {
  return static_cast<T*>(static_cast<TDeviceState*>(ctx->priv_data));
}

// A device record: filled at build time, registered once, never freed.
struct TInputDevice {
  const char* name;
  const char* long_name;
  int priv_data_size;  // without `create`: zero-filled state the host allocates into priv_data
  int (*read_header)(AVFormatContext* ctx, TFormatParameters* ap);
  int (*read_packet)(AVFormatContext* ctx, AVPacket* pkt);  // size in bytes or negative error
  int (*read_close)(AVFormatContext* ctx);
  int flags;  // AVFMT_NOFILE for both of ours
  std::unique_ptr<TDeviceState> (*create)();  // the state object, for devices that have one
};

// A device object's name in log lines ("[screencapture @ 0x...]"): the object keeps a pointer to
// such a class as a member and logs with that member's address.
AVClass DeviceLogClass(const char* name);

// Registers the record unless this very record (compared by its name pointer) is registered already.
void RegisterInputFormat(const TInputDevice* device);
// Case-sensitive lookup by name, as libavformat looks up its own formats; nullptr when unknown.
const TInputDevice* FindInputDevice(const std::string& name);
// The registered records in registration order.
std::vector<const TInputDevice*> RegisteredInputDevices();

// One opened device input. The device sees its option string as the context's url (cut to 1023
// characters, as the old fixed-size file-name field did) and its state (object or zeroed memory) in
// priv_data. Open, ReadPacket and Close belong to the thread that drives the input.
class TDeviceInput {
 public:
  TDeviceInput();  // out of line: TStamp is complete only there
  ~TDeviceInput();
  TDeviceInput(const TDeviceInput&) = delete;
  TDeviceInput& operator=(const TDeviceInput&) = delete;

  // 0 or a negative library error code; on failure nothing stays open.
  int Open(const TInputDevice* device, const std::string& url, TFormatParameters* ap);
  // Packet size or a negative error. Packets that come without time stamps are stamped in the
  // stream's time base: video by frame period, audio by sample count.
  int ReadPacket(AVPacket* pkt);
  void Close();

  // The reason the device gave for its last failed open or read, in words for the user ("" when it
  // gave none); the engine names it when the input fails.
  const std::string& ErrorText() const { return Error; }

  AVFormatContext* Context() const { return Ctx; }
  const TInputDevice* Device() const { return Dev; }

 private:
  bool MakeState(const TInputDevice* device, AVFormatContext* ctx);
  void Discard(AVFormatContext* ctx);

  const TInputDevice* Dev = nullptr;
  AVFormatContext* Ctx = nullptr;
  struct TStamp;
  std::unique_ptr<TStamp[]> Stamps;
  unsigned StampCount = 0;
  AVRational HeaderTimeBase{0, 0};  // the frame period the device left in its parameters
  std::unique_ptr<TDeviceState> State;  // a factory-made state; priv_data points at it
  std::string Error;
  friend void SetDeviceError(AVFormatContext* ctx, const std::string& text);
// SetDeviceError, with the text also logged as an error through the device's `logContext`; returns
// `code`, for a device's "return DeviceFailure(...)".
int DeviceFailure(AVFormatContext* ctx, void* logContext, int code, const std::string& text);
};

// For a device: the reason of the failure it is about to return, said in words for the user (the
// recorded window was closed, the display connection was lost). The host keeps it for the engine.
void SetDeviceError(AVFormatContext* ctx, const std::string& text);
// SetDeviceError, with the text also logged as an error through the device's `logContext`; returns
// `code`, for a device's "return DeviceFailure(...)".
int DeviceFailure(AVFormatContext* ctx, void* logContext, int code, const std::string& text);

}  // namespace qv
