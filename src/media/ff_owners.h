// Owners of everything the program holds from the media libraries (and of its C library files): a
// std::unique_ptr per kind of object, whose deleter calls the library's own free function through
// ff::. This header and ff_owners.cpp are the only places that free such an object; everything
// else holds it in one of these, or borrows it.
#pragma once

#include <cstdio>
#include <memory>
#include <utility>

#include "media/ff_api.h"

namespace qv {

struct TFrameFree {
  void operator()(AVFrame* p) const { ff::av_frame_free(&p); }
};
struct TPacketFree {
  void operator()(AVPacket* p) const { ff::av_packet_free(&p); }
};
struct TCodecContextFree {
  void operator()(AVCodecContext* p) const { ff::avcodec_free_context(&p); }
};
struct TParserFree {
  void operator()(AVCodecParserContext* p) const { ff::av_parser_close(p); }
};
struct TBsfFree {
  void operator()(AVBSFContext* p) const { ff::av_bsf_free(&p); }
};
struct TFilterGraphFree {
  void operator()(AVFilterGraph* p) const { ff::avfilter_graph_free(&p); }
};
struct TFilterInOutFree {
  void operator()(AVFilterInOut* p) const { ff::avfilter_inout_free(&p); }
};
struct TScalerFree {
  void operator()(SwsContext* p) const { ff::sws_freeContext(p); }
};
struct TResamplerFree {
  void operator()(SwrContext* p) const { ff::swr_free(&p); }
};
struct TAudioFifoFree {
  void operator()(AVAudioFifo* p) const { ff::av_audio_fifo_free(p); }
};
struct TDictFree {
  void operator()(AVDictionary* p) const { ff::av_dict_free(&p); }
};
struct TAvMemFree {  // anything from av_malloc, av_strdup and the calls that hand out such memory
  void operator()(void* p) const { ff::av_free(p); }
};
struct TFileClose {  // std::fopen'ed files
  void operator()(std::FILE* f) const { std::fclose(f); }
};
// A context from avformat_alloc_context that no demuxer or muxer file was opened into.
struct TFormatContextFree {
  void operator()(AVFormatContext* p) const { ff::avformat_free_context(p); }
};
// A demuxer's context, with the program's own protocol I/O it may read through.
struct TInputContextClose {
  void operator()(AVFormatContext* p) const;
};
// A muxer's context, with the file it writes unless that I/O is custom (the caller's).
struct TOutputContextClose {
  void operator()(AVFormatContext* p) const;
};
// A custom I/O context and its buffer (not what its opaque points at: that is its creator's).
struct TCustomIoFree {
  void operator()(AVIOContext* p) const;
};

using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFree>;
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextFree>;
using TParserPtr = std::unique_ptr<AVCodecParserContext, TParserFree>;
using TBsfPtr = std::unique_ptr<AVBSFContext, TBsfFree>;
using TFilterGraphPtr = std::unique_ptr<AVFilterGraph, TFilterGraphFree>;
using TFilterInOutPtr = std::unique_ptr<AVFilterInOut, TFilterInOutFree>;
using TScalerPtr = std::unique_ptr<SwsContext, TScalerFree>;
using TResamplerPtr = std::unique_ptr<SwrContext, TResamplerFree>;
using TAudioFifoPtr = std::unique_ptr<AVAudioFifo, TAudioFifoFree>;
using TDictPtr = std::unique_ptr<AVDictionary, TDictFree>;
template <class T>
using TAvMemPtr = std::unique_ptr<T, TAvMemFree>;
using TAvTextPtr = TAvMemPtr<char>;
using TFilePtr = std::unique_ptr<std::FILE, TFileClose>;
using TFormatContextPtr = std::unique_ptr<AVFormatContext, TFormatContextFree>;
using TInputContextPtr = std::unique_ptr<AVFormatContext, TInputContextClose>;
using TOutputContextPtr = std::unique_ptr<AVFormatContext, TOutputContextClose>;
using TCustomIoPtr = std::unique_ptr<AVIOContext, TCustomIoFree>;

// An AVSubtitle lives by value; its rectangles are the library's.
struct TSubtitle {
  AVSubtitle Sub{};
  TSubtitle() = default;
  ~TSubtitle() { ff::avsubtitle_free(&Sub); }
  TSubtitle(const TSubtitle&) = delete;
  TSubtitle& operator=(const TSubtitle&) = delete;
};

// For library calls that fill or replace an object through a T** (av_dict_set, avformat_open_input,
// swr_alloc_set_opts2): hands them the owner's pointer and gives the owner back whatever the call
// left there when the full expression ends, so nothing the call frees or makes goes unowned. Read
// the owner only in a later statement.
template <class Owner>
class TInOut {
 public:
  using pointer = typename Owner::pointer;
  explicit TInOut(Owner& owner) : Target(owner), Raw(owner.release()) {}
  ~TInOut() { Target.reset(Raw); }
  TInOut(const TInOut&) = delete;
  TInOut& operator=(const TInOut&) = delete;
  operator pointer*() { return &Raw; }

 private:
  Owner& Target;
  pointer Raw;
};
template <class Owner>
TInOut<Owner> InOut(Owner& owner) {
  return TInOut<Owner>(owner);
}

// Frees an object that a library structure keeps in a raw field of its own (a chapter's metadata,
// the option store's contexts), through its owner type; the field is left empty.
template <class Owner>
void FreeThrough(typename Owner::pointer& field) {
  Owner owner(std::exchange(field, nullptr));
}

}  // namespace qv
