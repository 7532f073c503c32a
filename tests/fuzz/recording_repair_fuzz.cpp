// The MP4 and MKV repairs read files cut off at any byte, and whatever else a user hands to
// `quorvane-convert -repair`. Input: the file's content. Each plan either refuses the file or cuts it
// within its length and patches only bytes it keeps (or the index it adds).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/mkv_repair.h"
#include "engine/mp4_repair.h"
#include "fuzz_support.h"

namespace {

// Named by the process, in the run's own folder (scripts/fuzz.sh), so parallel runs never share it.
char Path[64];

void RemoveFile() { std::remove(Path); }

void CheckPlan(const qv::TRepairPlan& plan, std::int64_t size) {
  if (!plan.Error.empty()) return;
  QV_FUZZ_CHECK(plan.KeepBytes > 0 && plan.KeepBytes <= size);
  QV_FUZZ_CHECK(!plan.Complete || (plan.KeepBytes == size && plan.Patches.empty()));
  for (const qv::TPatch& patch : plan.Patches)
    QV_FUZZ_CHECK(patch.Offset >= 0 && patch.Offset + std::int64_t(patch.Bytes.size()) <= plan.KeepBytes);
  const std::int64_t withIndex = plan.KeepBytes + std::int64_t(plan.Append.size());
  for (const qv::TPatch& patch : plan.AppendPatches)
    QV_FUZZ_CHECK(patch.Offset >= 0 && patch.Offset + std::int64_t(patch.Bytes.size()) <= withIndex);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::snprintf(Path, sizeof(Path), "damaged_%d", int(::getpid()));
  std::atexit(RemoveFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qv::fuzz::WriteInputFile(Path, data, size);
  const qv::TFileReader reader(Path);
  QV_FUZZ_CHECK(reader.IsOpen() && reader.Size() == std::int64_t(size));
  CheckPlan(qv::PlanMp4Repair(reader), std::int64_t(size));
  CheckPlan(qv::PlanMkvRepair(reader), std::int64_t(size));
  return 0;
}
