#include "media/protocol_registry.h"

#include <mutex>
#include <vector>

#include "media/ff_api.h"
#include "media/ff_owners.h"

namespace qv {

namespace {

std::mutex RegistryLock;

std::vector<const TProtocol*>& Registry() {
  static std::vector<const TProtocol*> protocols;
  return protocols;
}

const TProtocol* FindLocked(const std::string& name) {
  for (const TProtocol* p : Registry())
    if (p->name && name == p->name) return p;
  return nullptr;
}

constexpr int kIoBufferSize = 32768;

// The AVIOContext callbacks: the opaque pointer is the protocol's per-open context.
int IoRead(void* opaque, uint8_t* buf, int size) {
  auto* h = static_cast<TProtocolContext*>(opaque);
  if (!h->prot->url_read) return AVERROR(ENOSYS);
  int n = h->prot->url_read(h, buf, size);
  // A protocol reports the end of the file with 0; current libavformat wants AVERROR_EOF.
  return n == 0 ? AVERROR_EOF : n;
}

int IoWrite(void* opaque, uint8_t* buf, int size) {
  auto* h = static_cast<TProtocolContext*>(opaque);
  if (!h->prot->url_write) return AVERROR(ENOSYS);
  return h->prot->url_write(h, buf, size);
}

int64_t IoSeek(void* opaque, int64_t offset, int whence) {
  auto* h = static_cast<TProtocolContext*>(opaque);
  if (!h->prot->url_seek) return AVERROR(ENOSYS);
  return h->prot->url_seek(h, offset, whence & ~AVSEEK_FORCE);
}

}  // namespace

bool RegisterProtocol(const TProtocol* protocol) {
  if (!protocol || !protocol->name) return false;
  std::lock_guard<std::mutex> lock(RegistryLock);
  if (FindLocked(protocol->name)) return false;
  Registry().push_back(protocol);
  return true;
}

const TProtocol* FindProtocol(const std::string& name) {
  std::lock_guard<std::mutex> lock(RegistryLock);
  return FindLocked(name);
}

const TProtocol* FindProtocolForUrl(const std::string& url) {
  auto colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return nullptr;
  return FindProtocol(url.substr(0, colon));
}

int OpenProtocolIO(AVIOContext** pb, const std::string& url, int avioFlags) {
  *pb = nullptr;
  const TProtocol* prot = FindProtocolForUrl(url);
  if (!prot || !prot->url_open) return AVERROR(ENOENT);
  int flags = kUrlRdOnly;
  if ((avioFlags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ_WRITE)
    flags = kUrlRdWr;
  else if (avioFlags & AVIO_FLAG_WRITE)
    flags = kUrlWrOnly;

  auto* h = new TProtocolContext;
  h->prot = prot;
  h->url = url;
  h->flags = flags;
  int ret = prot->url_open(h, url.c_str(), flags);
  if (ret < 0) {
    delete h;
    return ret;
  }
  TAvMemPtr<unsigned char> buffer(static_cast<unsigned char*>(ff::av_malloc(kIoBufferSize)));
  AVIOContext* io = buffer ? ff::avio_alloc_context(buffer.get(), kIoBufferSize, flags != kUrlRdOnly ? 1 : 0, h,
                                                    IoRead, IoWrite, IoSeek)
                           : nullptr;
  if (io) buffer.release();  // the I/O context's now
  if (!io) {
    if (prot->url_close) prot->url_close(h);
    delete h;
    return AVERROR(ENOMEM);
  }
  io->seekable = prot->url_seek ? AVIO_SEEKABLE_NORMAL : 0;
  *pb = io;
  return 0;
}

bool IsProtocolIO(const AVIOContext* pb) { return pb && pb->read_packet == &IoRead; }

void CloseProtocolIO(AVIOContext** pb) {
  if (!pb || !*pb) return;
  AVIOContext* io = *pb;
  auto* h = static_cast<TProtocolContext*>(io->opaque);
  if (io->write_flag) ff::avio_flush(io);
  if (h) {
    if (h->prot->url_close) h->prot->url_close(h);
    delete h;
  }
  FreeThrough<TCustomIoPtr>(*pb);
}

}  // namespace qv
