#include "media/fifo_protocol.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "media/interrupt.h"
#include "media/protocol_registry.h"

extern "C" {
#include <libavutil/error.h>
}

namespace qv {

namespace {

constexpr char kScheme[] = "fifo:";
constexpr int kSliceMs = 100;  // how long a wait goes without asking the interrupt checks

// The descriptor is kept in priv_data shifted by one so that descriptor 0 is not mistaken for none.
int Fd(const TProtocolContext* h) { return int(reinterpret_cast<std::intptr_t>(h->priv_data)) - 1; }

int FifoOpen(TProtocolContext* h, const char* url, int flags) {
  if (flags != kUrlRdOnly) return AVERROR(EINVAL);
  const char* name = url + std::strlen(kScheme);
  // Without O_NONBLOCK this open would wait for a writer; reads wait in FifoRead instead.
  const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return AVERROR(errno);
  h->priv_data = reinterpret_cast<void*>(std::intptr_t(fd) + 1);
  return 0;
}

// Bytes read, AVERROR_EOF once a writer has come and gone, AVERROR_EXIT when a check says stop.
// A pipe nobody has opened for writing yet polls as "nothing to read", so the wait goes on.
int FifoRead(TProtocolContext* h, unsigned char* buf, int size) {
  const int fd = Fd(h);
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, kSliceMs);
    if (ready > 0) {
      const ssize_t n = ::read(fd, buf, size_t(size));
      if (n > 0) return int(n);
      if (n == 0) return AVERROR_EOF;
      if (errno != EAGAIN && errno != EINTR) return AVERROR(errno);
    } else if (ready < 0 && errno != EINTR) {
      return AVERROR(errno);
    }
    if (LibraryInterruptCallback(nullptr)) return AVERROR_EXIT;
  }
}

int FifoClose(TProtocolContext* h) {
  const int fd = Fd(h);
  h->priv_data = nullptr;
  return fd >= 0 ? ::close(fd) : 0;
}

const TProtocol kFifoProtocol = {"fifo", FifoOpen, FifoRead, nullptr, nullptr, FifoClose};

}  // namespace

void RegisterFifoProtocol() { RegisterProtocol(&kFifoProtocol); }

std::string FifoUrl(const std::string& fileName) {
  struct stat st;
  if (::stat(fileName.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) return "";
  return kScheme + fileName;
}

}  // namespace qv
