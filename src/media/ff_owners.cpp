#include "media/ff_owners.h"

#include "media/protocol_registry.h"

namespace qv {

void TInputContextClose::operator()(AVFormatContext* p) const {
  // The library leaves custom I/O to whoever set it up; ours is the program's own protocols'.
  AVIOContext* custom = (p->flags & AVFMT_FLAG_CUSTOM_IO) ? p->pb : nullptr;
  ff::avformat_close_input(&p);
  if (IsProtocolIO(custom)) CloseProtocolIO(&custom);
}

void TOutputContextClose::operator()(AVFormatContext* p) const {
  const bool hasFile = p->pb && !(p->flags & AVFMT_FLAG_CUSTOM_IO) && !(p->oformat && (p->oformat->flags & AVFMT_NOFILE));
  if (hasFile) {
    if (IsProtocolIO(p->pb))
      CloseProtocolIO(&p->pb);
    else
      ff::avio_closep(&p->pb);
  }
  ff::avformat_free_context(p);
}

void TCustomIoFree::operator()(AVIOContext* p) const {
  ff::av_freep(&p->buffer);
  ff::avio_context_free(&p);
}

}  // namespace qv
