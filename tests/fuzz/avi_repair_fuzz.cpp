// The repair reads AVIs that were cut off at any byte, and whatever else a user hands to
// `quorvane-convert -repair`. Input: the file's content. The repair either refuses it or writes a
// file it has read back as complete, which must state a length; the judge of completeness walks the
// input's chunks and indexes first, as the repair in place does.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/avi_layout.h"
#include "engine/avi_repair.h"
#include "engine_fuzz_support.h"
#include "fuzz_support.h"

namespace {

// In the current folder (scripts/fuzz.sh gives each run its own), named by the process, so parallel
// runs never share them. Plain arrays: the exit handler needs the names after static objects are gone.
char DamagedPath[64];
char RepairedPath[64];

void RemoveFiles() {
  std::remove(DamagedPath);
  std::remove(RepairedPath);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qv::fuzz::LoadMediaLibraries();
  std::snprintf(DamagedPath, sizeof(DamagedPath), "damaged_%d.avi", int(::getpid()));
  std::snprintf(RepairedPath, sizeof(RepairedPath), "repaired_%d.avi", int(::getpid()));
  std::atexit(RemoveFiles);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qv::fuzz::WriteInputFile(DamagedPath, data, size);

  (void)qv::AviLayoutIsWhole(DamagedPath);
  const qv::TAviRepair repair = qv::RemuxAvi(DamagedPath, RepairedPath);
  QV_FUZZ_CHECK(repair.Ok ? repair.DurationUs > 0 : !repair.Error.empty());
  std::remove(RepairedPath);
  return 0;
}
