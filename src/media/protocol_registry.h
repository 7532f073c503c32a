// The program's own protocol registry. Current libavformat no longer lets a program add URL
// protocols, so the program keeps the records itself: a URL "name:..." whose name is registered here
// is served through a custom AVIOContext (OpenProtocolIO) instead of avio_open2.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavformat/avio.h>
}

namespace qv {

// Open modes as a protocol sees them (the values of the old URL_RDONLY/URL_WRONLY/URL_RDWR).
constexpr int kUrlRdOnly = 0;
constexpr int kUrlWrOnly = 1;
constexpr int kUrlRdWr = 2;

struct TProtocol;

// One opened URL (the old URLContext): the protocol keeps its own state in priv_data.
struct TProtocolContext {
  const TProtocol* prot = nullptr;
  std::string url;
  int flags = kUrlRdOnly;
  void* priv_data = nullptr;
};

// A protocol record: filled at build time, registered once, never freed. Operations return 0, a
// byte count or a new position, or a negative error code; url_seek answers AVSEEK_SIZE with the size.
struct TProtocol {
  const char* name;
  int (*url_open)(TProtocolContext* h, const char* url, int flags);
  int (*url_read)(TProtocolContext* h, unsigned char* buf, int size);
  int (*url_write)(TProtocolContext* h, const unsigned char* buf, int size);
  std::int64_t (*url_seek)(TProtocolContext* h, std::int64_t pos, int whence);
  int (*url_close)(TProtocolContext* h);
};

// Registers the record unless a protocol of the same name (exact, case-sensitive) is registered;
// returns true when this call added it.
bool RegisterProtocol(const TProtocol* protocol);
// Exact, case-sensitive lookup by name; nullptr when unknown.
const TProtocol* FindProtocol(const std::string& name);
// The protocol named by the URL's text before its first ':' ("unicode:utf8:/x" -> "unicode");
// nullptr when the URL has no ':' or the name is not registered.
const TProtocol* FindProtocolForUrl(const std::string& url);

// Opens `url` through its registered protocol and wraps it into a new AVIOContext (for
// AVFormatContext::pb with AVFMT_FLAG_CUSTOM_IO). `avioFlags` are AVIO_FLAG_READ/WRITE/READ_WRITE.
// Returns 0 or a negative error code (AVERROR(ENOENT) when no protocol serves the URL); on failure
// nothing stays open. Needs libavformat and libavutil loaded.
int OpenProtocolIO(AVIOContext** pb, const std::string& url, int avioFlags);
// Flushes, closes the protocol and frees the context and its buffer; sets *pb to nullptr. Only for
// contexts made by OpenProtocolIO; a null *pb is fine.
void CloseProtocolIO(AVIOContext** pb);
// True when the context was made by OpenProtocolIO (so the caller knows which close to use).
bool IsProtocolIO(const AVIOContext* pb);

}  // namespace qv
