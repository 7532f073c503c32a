#include "media/elf_needed.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <cstring>

namespace qv {

namespace {

bool ReadAt(int fd, void* buffer, std::size_t size, off_t offset) {
  auto* p = static_cast<char*>(buffer);
  while (size > 0) {
    ssize_t n = ::pread(fd, p, size, offset);
    if (n <= 0) return false;
    p += n;
    size -= std::size_t(n);
    offset += n;
  }
  return true;
}

struct TFd {
  int Fd;
  ~TFd() {
    if (Fd >= 0) ::close(Fd);
  }
};

}  // namespace

std::vector<std::string> ElfNeededLibraries(const std::string& path) {
  std::vector<std::string> needed;
  TFd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.Fd < 0) return needed;
  ElfW(Ehdr) eh;
  if (!ReadAt(file.Fd, &eh, sizeof(eh), 0) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
      eh.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) || eh.e_phentsize != sizeof(ElfW(Phdr)) ||
      eh.e_phnum == 0 || eh.e_phnum > 512)
    return needed;
  std::vector<ElfW(Phdr)> ph(eh.e_phnum);
  if (!ReadAt(file.Fd, ph.data(), ph.size() * sizeof(ElfW(Phdr)), off_t(eh.e_phoff))) return needed;

  // Addresses in the dynamic section are virtual; the loadable segments map them to file offsets.
  auto toOffset = [&](ElfW(Addr) addr, off_t& offset) {
    for (const auto& p : ph)
      if (p.p_type == PT_LOAD && addr >= p.p_vaddr && addr < p.p_vaddr + p.p_filesz) {
        offset = off_t(p.p_offset + (addr - p.p_vaddr));
        return true;
      }
    return false;
  };

  for (const auto& p : ph) {
    if (p.p_type != PT_DYNAMIC || p.p_filesz == 0 || p.p_filesz > (1u << 20)) continue;
    std::vector<ElfW(Dyn)> dyn(p.p_filesz / sizeof(ElfW(Dyn)));
    if (!ReadAt(file.Fd, dyn.data(), dyn.size() * sizeof(ElfW(Dyn)), off_t(p.p_offset))) return needed;
    ElfW(Addr) strtab = 0;
    std::size_t strsz = 0;
    for (const auto& d : dyn) {
      if (d.d_tag == DT_NULL) break;
      if (d.d_tag == DT_STRTAB) strtab = d.d_un.d_ptr;
      if (d.d_tag == DT_STRSZ) strsz = d.d_un.d_val;
    }
    off_t strOffset;
    if (!strtab || !strsz || strsz > (1u << 24) || !toOffset(strtab, strOffset)) return needed;
    std::string strings(strsz, '\0');
    if (!ReadAt(file.Fd, strings.data(), strsz, strOffset)) return needed;
    for (const auto& d : dyn) {
      if (d.d_tag == DT_NULL) break;
      if (d.d_tag == DT_NEEDED && d.d_un.d_val < strsz) needed.emplace_back(strings.c_str() + d.d_un.d_val);
    }
    break;
  }
  return needed;
}

}  // namespace qv
