// Typed pointers to the media libraries' functions, filled at run time by TFFLoader.
// Call them as ff::avcodec_open2(...). Nothing in the program links libav*/libsw*, so a direct call
// to ::avcodec_open2 fails to link; the headers are used only for types and inline helpers.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/dict.h>
#include <libavutil/eval.h>
#include <libavutil/fifo.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "media/ff_functions.h"
#include "media/library_kind.h"

namespace ff {
#define QV_FF_POINTER(kind, name) inline decltype(&::name) name = nullptr;
QV_FF_FUNCTIONS(QV_FF_POINTER, QV_FF_POINTER)
#undef QV_FF_POINTER
}  // namespace ff

namespace qv {

// One row per resolvable name, in table order; the loader walks the rows of one kind.
struct TFunctionEntry {
  TLibraryKind Kind;
  const char* Name;
  void** Slot;
  bool Optional;
};

const TFunctionEntry* FunctionEntries(int& count);

}  // namespace qv
