// Device option strings reach the capture devices as their "file name", from the command line and
// from hand-edited settings: any text must parse without harm, and a failure must say why.
#include <cstddef>
#include <cstdint>
#include <string>

#include "capture/device_options.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;

  qv::TScreenCaptureOptions screen;
  const bool screenOk = qv::ParseScreenCaptureOptions(text, screen, error);
  QV_FUZZ_CHECK(screenOk == error.empty());
  // The title is taken verbatim from the text, never made up.
  if (screen.HasTitle) QV_FUZZ_CHECK(text.find(screen.Title) != std::string::npos);

  qv::TWaveCaptureOptions wave;
  QV_FUZZ_CHECK(qv::ParseWaveCaptureOptions(text, wave, error));
  QV_FUZZ_CHECK(error.empty());

  // Every mixed source parsed writes back to a segment that parses to the same source.
  qv::TWaveMixOptions mix;
  const bool mixOk = qv::ParseWaveMixOptions(text, mix, error);
  QV_FUZZ_CHECK(mixOk == error.empty());
  for (const qv::TWaveMixInputOptions& input : mix.Inputs) {
    qv::TWaveMixOptions again;
    QV_FUZZ_CHECK(qv::ParseWaveMixOptions(qv::MixInputOption(input), again, error) && again.Inputs.size() == 1);
    QV_FUZZ_CHECK(again.Inputs[0].Source == input.Source && again.Inputs[0].Label == input.Label);
  }
  return 0;
}
