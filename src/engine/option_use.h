// Every option given for an output is taken by one of its streams' encoders or by its muxer, or the
// output is refused (an input likewise by its demuxer or decoders): an option no one takes would
// otherwise vanish without a word.
#pragma once

#include <string>

struct AVCodec;

namespace qv {

struct TOptionStore;
struct TOutputStreamInfo;
class TOutputFile;

// Gives a new stream's encoder context the stored options of its kind; raises FFmpegException when
// its own table refuses a value ("Invalid value ... of the <codec> encoder of output stream #N").
void ApplyEncoderOptions(TOptionStore& store, TOutputStreamInfo& stream, const AVCodec* codec, int flags);

// Gives the muxer its options, then raises when the muxer refuses a value or an option given for this
// file was taken by none of its contexts ("Unrecognized option "crf" (value "20") for output stream
// #0:0: the msmpeg4v2 encoder has no such option"); else the options have had their file.
void ApplyMuxerOptions(TOptionStore& store, TOutputFile& out, int fileIndex);

// The same judgement for an opened input, whose demuxer (or device) and decoders have had their
// options: "" when each was taken, else the refusal ("Unrecognized option "crf" (value "20") for input
// file #0: neither the avi demuxer nor its decoders have such an option").
std::string UnusedInputOptionText(const TOptionStore& store, const char* readerName, int fileIndex);

}  // namespace qv
