// quorvane-library-names, built for packaging and never installed: the shared libraries the programs
// bind at run time, which no linker records, one "depends SONAME" or "recommends SONAME" a line.
// Read from the loader's own table, so a package made from this list asks for what the programs load.
#include <cstdio>

#include "media/library_kind.h"
#include "media/loader.h"
#include "media/row_pair_converter.h"

int main() {
  for (int kind = 0; kind < qv::kLibraryKindCount; ++kind) {
    // The C library is linked as well; the linker's record of it is enough.
    if (kind == qv::kCLibrary) continue;
    std::printf("depends %s\n", qv::FFLoader().LibraryFileName(qv::TLibraryKind(kind)).c_str());
  }
  // Without it pictures are converted by libswscale, only slower.
  std::printf("recommends %s\n", qv::kLibYuvFileName);
  return 0;
}
