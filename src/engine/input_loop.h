// `loop_input`: an input read over and over, each pass's timestamps after the last one's, until the
// recording time (or a stop) ends the run.
#pragma once

struct AVFormatContext;
struct AVPacket;

namespace qv {

struct TInputLoop;

// av_read_frame that starts the file again at its end. A pass that yields no packet ends the loop
// (AVERROR_EOF), so an empty or unseekable input cannot spin.
int ReadLoopingInput(AVFormatContext* ctx, TInputLoop& loop, AVPacket* pkt);

}  // namespace qv
