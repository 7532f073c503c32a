#include "encoder/ffmpeg_task.h"

#include "encoder/ext_options.h"

namespace qv {

TFFmpeg::TFFmpeg(int capacity, TCustomEncoder* encoder)
    : TCustomFFmpeg(capacity), Encoder(encoder), Capacity(capacity) {
  FInputOptions.resize(size_t(capacity > 0 ? capacity : 0));
  FOutputOptions.resize(size_t(capacity > 0 ? capacity : 0));
}

TFFmpeg::~TFFmpeg() {
  // Unbind first: a task freed while it runs stops and ends without a terminate event. The engine's
  // destructor then stops the run and waits for it.
  Detach();
  Stop(true);
}

void TFFmpeg::StoreInputOptions(int index, const TInputOptions& options) {
  if (index < 0 || index >= Capacity) return;
  auto& slot = FInputOptions[size_t(index)];
  if (!slot) slot = std::make_unique<TInputOptions>();
  *slot = options;
}

void TFFmpeg::StoreOutputOptions(int index, const TOutputOptions& options) {
  if (index < 0 || index >= Capacity) return;
  auto& slot = FOutputOptions[size_t(index)];
  if (!slot) slot = std::make_unique<TOutputOptions>();
  *slot = options;
}

void TFFmpeg::ResetInputOptions(int index) {
  if (index >= 0 && index < Capacity && FInputOptions[size_t(index)]) FInputOptions[size_t(index)]->Reset();
}

void TFFmpeg::ResetOutputOptions(int index) {
  if (index >= 0 && index < Capacity && FOutputOptions[size_t(index)]) FOutputOptions[size_t(index)]->Reset();
}

const TInputOptions* TFFmpeg::InputOptions(int index) const {
  return index >= 0 && index < Capacity ? FInputOptions[size_t(index)].get() : nullptr;
}

const TOutputOptions* TFFmpeg::OutputOptions(int index) const {
  return index >= 0 && index < Capacity ? FOutputOptions[size_t(index)].get() : nullptr;
}

void TFFmpeg::ApplyOptionText(const std::string& text, bool isInput) {
  for (const TOptionLine& line : ParseOptionText(text)) {
    if (isInput ? IsHeldBackInputKey(line.Key) : IsHeldBackOutputKey(line.Key)) continue;
    SetOption(line.Key, line.Value);
  }
}

}  // namespace qv
