// TFFmpeg: one conversion task of the encoder component, a transcoder plus the option records it
// was given for each input and output.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "encoder/encoder_records.h"
#include "engine/custom_ffmpeg.h"

namespace qv {

class TCustomEncoder;

class TFFmpeg : public TCustomFFmpeg {
 public:
  // capacity: the most inputs and the most outputs the task may hold.
  TFFmpeg(int capacity, TCustomEncoder* encoder);
  ~TFFmpeg();

  TCustomEncoder* Encoder;  // the owner (not owned)

  void StoreInputOptions(int index, const TInputOptions& options);
  void StoreOutputOptions(int index, const TOutputOptions& options);
  void ResetInputOptions(int index);
  void ResetOutputOptions(int index);
  // nullptr while the slot was never used.
  const TInputOptions* InputOptions(int index) const;
  const TOutputOptions* OutputOptions(int index) const;

  // Hands every line of an ExtOptions text to SetOption except the held-back keys.
  void ApplyOptionText(const std::string& text, bool isInput);

  // True until the task is being destroyed. The component's callbacks capture it and do nothing
  // once it is false, so a run that ends while the task is freed raises no event into a half-gone
  // object (and no callback member is rewritten while the worker may be reading it).
  std::shared_ptr<std::atomic<bool>> Alive() const { return FAlive; }
  // Cuts the callbacks off: the task raises no more events (it left the component's list).
  void Detach() { FAlive->store(false); }

 private:
  int Capacity;
  std::vector<std::unique_ptr<TInputOptions>> FInputOptions;
  std::vector<std::unique_ptr<TOutputOptions>> FOutputOptions;
  std::shared_ptr<std::atomic<bool>> FAlive = std::make_shared<std::atomic<bool>>(true);
};

}  // namespace qv
