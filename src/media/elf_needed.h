// Reads the names of the shared objects an ELF file needs (its DT_NEEDED entries) without loading it.
#pragma once

#include <string>
#include <vector>

namespace qv {

// Empty when the file is not a readable ELF object of this machine's class.
std::vector<std::string> ElfNeededLibraries(const std::string& path);

}  // namespace qv
