// The wave input device on ALSA: an opened capture PCM and a thread of its own that fills the buffers
// handed to it, in order, and reports each completed buffer to the device's callback. It plays the role
// of the platform's wave input service, so the capture code above it keeps the buffer protocol of a
// callback-driven device: nothing but that thread ever reads from the PCM.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/wave_capture.h"

typedef struct _snd_pcm snd_pcm_t;

namespace qv {

using TWaveInProc = std::function<void(TWaveInDevice& device, TWaveMessage message, TWaveHeader* header, int code)>;

// Threads: the capture thread reads the PCM and calls the callback; the opening thread prepares,
// adds buffers (so does the callback), starts and closes. Pending, the flags and Proc's release sit
// behind Lock. The capture thread holds the device (and so the callback and whatever it holds)
// until it ends, so a thread that outlives the close never touches freed memory.
class TWaveInDevice {
 public:
  // Asks whether `pcmName` captures `format` as it is (no resampling by ALSA); 0 or an ALSA error.
  static int Query(const std::string& pcmName, const TWaveFormat& format);
  // Opens the PCM and starts the capture thread, which reports Open first. 0 or an ALSA error.
  static int Open(std::shared_ptr<TWaveInDevice>& device, const std::string& pcmName, const TWaveFormat& format,
                  TWaveInProc proc);
  TWaveInDevice() = default;  // for Open
  ~TWaveInDevice();
  TWaveInDevice(const TWaveInDevice&) = delete;
  TWaveInDevice& operator=(const TWaveInDevice&) = delete;

  int Prepare(TWaveHeader* header);
  // Queues a buffer to be filled; fails once the device has stopped (error, reset or close).
  int AddBuffer(TWaveHeader* header);
  int Start();
  // Stops capturing and hands every queued buffer back (as Data reports, on the calling thread).
  // A capture thread stuck inside ALSA (a sound server that died can leave its client library
  // deadlocked) or in the callback is given kQuitWaitMs to end and is then left behind: it never
  // touches a buffer again, and lets go of the device and the callback when it ends, if ever.
  // True when the thread has ended.
  bool Reset();
  // Reset; then, unless the thread was left behind, close the PCM, report Close and let go of the
  // callback. True when the thread has ended.
  bool Close();

  static constexpr int kQuitWaitMs = 2000;

 private:
  void Run();
  void Capture();
  void Report(TWaveMessage message, TWaveHeader* header, int code);
  // Fills `header` completely; 0, or a fatal ALSA error, or 1 when asked to quit.
  int Fill(TWaveHeader* header);

  snd_pcm_t* Pcm = nullptr;
  TWaveFormat Format{};
  TWaveInProc Proc;

  std::mutex Lock;
  std::condition_variable Wake;
  std::deque<TWaveHeader*> Pending;
  bool Running = false;  // Start was called
  bool Quit = false;
  bool Failed = false;   // a fatal read error ended capture
  bool Finished = false;   // the capture thread has left Run
  bool Abandoned = false;  // Reset gave up waiting for it
  std::thread Thread;
  // The thread reads into a buffer of its own and copies into a header only while it is still
  // wanted, so a thread that was left behind can never write into freed memory.
  std::vector<std::uint8_t> Scratch;

  // Wall-clock bookkeeping of the capture thread.
  std::int64_t LastEndUs = 0;
  bool Overran = false;
};

// Monotonic microseconds, the clock the screen device paces its frames by.
std::int64_t WaveMonotonicUs();

}  // namespace qv
