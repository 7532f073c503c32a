// The wave input device on ALSA: an opened capture PCM and a thread of its own that fills the buffers
// handed to it, in order, and reports each completed buffer to the device's callback. It plays the role
// of the platform's wave input service, so the capture code above it keeps the buffer protocol of a
// callback-driven device: nothing but that thread ever reads from the PCM.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/wave_capture.h"

typedef struct _snd_pcm snd_pcm_t;

namespace qv {

using TWaveInProc = void (*)(TWaveInDevice* device, TWaveMessage message, void* instance, TWaveHeader* header,
                             int code);

class TWaveInDevice {
 public:
  // Asks whether `pcmName` captures `format` as it is (no resampling by ALSA); 0 or an ALSA error.
  static int Query(const std::string& pcmName, const TWaveFormat& format);
  // Opens the PCM and starts the capture thread, which reports Open first. 0 or an ALSA error.
  static int Open(TWaveInDevice** device, const std::string& pcmName, const TWaveFormat& format,
                  TWaveInProc proc, void* instance);

  int Prepare(TWaveHeader* header);
  // Queues a buffer to be filled; fails once the device has stopped (error, reset or close).
  int AddBuffer(TWaveHeader* header);
  int Start();
  // Stops capturing and hands every queued buffer back (as Data reports, on the calling thread).
  // A capture thread stuck inside ALSA (a sound server that died can leave its client library
  // deadlocked) is given kQuitWaitMs to end and is then left behind: it owns the device from then
  // on, never touches a buffer or reports again, and frees the device if it ever wakes up.
  int Reset();
  // Reset, close the PCM, report Close and free the device (unless a stuck thread now owns it).
  int Close();

  static constexpr int kQuitWaitMs = 2000;

 private:
  TWaveInDevice() = default;
  ~TWaveInDevice();
  void Run();
  void Capture();
  void Report(TWaveMessage message, TWaveHeader* header, int code);
  // Fills `header` completely; 0, or a fatal ALSA error, or 1 when asked to quit.
  int Fill(TWaveHeader* header);

  snd_pcm_t* Pcm = nullptr;
  TWaveFormat Format{};
  TWaveInProc Proc = nullptr;
  void* Instance = nullptr;

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
