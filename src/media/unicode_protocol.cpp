#include "media/unicode_protocol.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "media/protocol_registry.h"
#include "media/unicode_url.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

namespace qv {

namespace {

// The descriptor is kept in priv_data shifted by one so that descriptor 0 is not mistaken for none.
int Fd(TProtocolContext* h) { return int(reinterpret_cast<std::intptr_t>(h->priv_data)) - 1; }

int UnicodeOpen(TProtocolContext* h, const char* url, int flags) {
  std::string name = DecodeUnicodeURLUtf8(url ? url : "");
  int mode;
  if (flags == kUrlRdWr)
    mode = O_RDWR | O_CREAT | O_TRUNC;
  else if (flags == kUrlWrOnly)
    mode = O_WRONLY | O_CREAT | O_TRUNC;
  else
    mode = O_RDONLY;
  int fd;
  do {
    fd = ::open(name.c_str(), mode | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return AVERROR(ENOENT);
  h->priv_data = reinterpret_cast<void*>(std::intptr_t(fd) + 1);
  return 0;
}

int UnicodeRead(TProtocolContext* h, unsigned char* buf, int size) {
  ssize_t n;
  do {
    n = ::read(Fd(h), buf, size_t(size));
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : int(n);
}

int UnicodeWrite(TProtocolContext* h, const unsigned char* buf, int size) {
  // A file write may come back short; finish it so the library never sees a partial count as done.
  int done = 0;
  while (done < size) {
    ssize_t n = ::write(Fd(h), buf + done, size_t(size - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    done += int(n);
  }
  return done;
}

std::int64_t UnicodeSeek(TProtocolContext* h, std::int64_t pos, int whence) {
  if (whence == AVSEEK_SIZE) {
    struct stat st;
    if (::fstat(Fd(h), &st) != 0) return -1;
    return std::int64_t(st.st_size);
  }
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
  off_t r = ::lseek(Fd(h), off_t(pos), whence);
  return r < 0 ? -1 : std::int64_t(r);
}

int UnicodeClose(TProtocolContext* h) {
  if (h->priv_data) ::close(Fd(h));
  h->priv_data = nullptr;
  return 0;
}

const TProtocol kUnicodeProtocol = {
    "unicode", UnicodeOpen, UnicodeRead, UnicodeWrite, UnicodeSeek, UnicodeClose,
};

}  // namespace

void RegisterUnicodeProtocol() {
  if (FindProtocol("unicode")) return;
  RegisterProtocol(&kUnicodeProtocol);
}

const TProtocol* UnicodeProtocol() { return &kUnicodeProtocol; }

}  // namespace qv
